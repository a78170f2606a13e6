// Shared by the layers of the far end; not part of the public interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "action.h"
#include "options.h"
#include "report.h"

namespace korval::netemu::detail {

struct Env {
  Env(const Options& o, Report& r) : options(o), report(r) {}

  const Options& options;
  Report& report;
  std::uint64_t now = 0;
  std::vector<Action> actions;
  bool drop_requested = false;

  void Send(std::string_view bytes) {
    if (bytes.empty()) return;
    if (!actions.empty() && actions.back().kind == Action::Kind::kSend &&
        actions.back().at_ms == now) {
      actions.back().bytes.append(bytes);
      return;
    }
    actions.push_back(Action{now, Action::Kind::kSend, std::string(bytes)});
  }
  void Violate(std::string what) { report.violations.push_back(Violation{now, std::move(what)}); }
  // The PAD or the bank hangs up; the far end carries it out once the
  // current byte or timer has been handled.
  void RequestDrop() { drop_requested = true; }
};

// Earliest of two optional deadlines.
inline std::optional<std::uint64_t> Earliest(std::optional<std::uint64_t> a,
                                             std::optional<std::uint64_t> b) {
  if (!a) return b;
  if (!b) return a;
  return *a < *b ? a : b;
}

}  // namespace korval::netemu::detail
