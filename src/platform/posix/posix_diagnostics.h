#pragma once
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include "platform/diagnostics.h"
#include "platform/text_encoding.h"

namespace korval::platform::posix {

class PosixDiagnostics final : public Diagnostics {
 public:
  PosixDiagnostics() : debug_(std::getenv("KORVAL_DEBUG") != nullptr) {}

  void DebugOutput(const std::string& text) override {
    if (!debug_) return;
    std::fprintf(stderr, "%s", Cp1252ToUtf8(text).c_str());
    if (!text.empty() && text.back() != '\n') std::fputc('\n', stderr);
  }
  void Warn(const std::string& text) override {
    std::fprintf(stderr, "korvalcom: %s\n", Cp1252ToUtf8(text).c_str());
  }

 private:
  bool debug_;
};

// Linux takes the paths that the system takes on the NT family.
class PosixVersion final : public VersionQuery {
 public:
  std::optional<std::uint32_t> PlatformId() override { return kPlatformWin32Nt; }
  std::optional<std::string> SystemName() override {
    struct utsname name;
    if (::uname(&name) != 0) return std::string("Linux");
    return std::string(name.sysname) + " " + name.release;
  }
};

}  // namespace korval::platform::posix
