#include "far_end.h"

#include <algorithm>
#include <utility>

#include "bank_site.h"
#include "env.h"
#include "hayes_modem.h"
#include "pad.h"

namespace korval::netemu {

struct FarEnd::Impl {
  explicit Impl(Options o)
      : options(std::move(o)),
        env(options, report),
        bank(env),
        pad(env, bank),
        modem(env, detail::HayesModem::Hooks{
                       [this] { pad.OnCarrier(); },
                       [this](std::uint8_t b) { pad.OnByte(b); },
                       [this] { EndCall(false); },
                   }) {}

  void Advance(std::uint64_t now) {
    // Fire every deadline up to now in time order, stamping each output with
    // its own due time; a bounded loop in case a layer keeps a stale one.
    for (int guard = 0; guard < 100000; ++guard) {
      const auto due = NextDeadline();
      if (!due || *due > now) break;
      env.now = std::max(env.now, *due);
      modem.OnTimer();
      pad.OnTimer();
      FinishDrop();
    }
    env.now = std::max(env.now, now);
  }

  std::optional<std::uint64_t> NextDeadline() const {
    return detail::Earliest(options.modem ? modem.NextDeadline() : std::nullopt,
                            pad.NextDeadline());
  }

  bool CallUp() const { return options.modem ? modem.call_up() : direct_call_up; }

  std::string Phase() const {
    if (!attached) return "line not opened";
    if (options.modem && !modem.call_up()) return modem.PhaseName();
    if (!options.modem && !direct_call_up) return "no call";
    return pad.PhaseName();
  }

  void EndCall(bool by_far_end) {
    report.ended_in = Phase();
    report.call_ended = true;
    if (by_far_end) {
      report.dropped_by_far_end = true;
    } else {
      report.hung_up_by_program = true;
    }
    pad.Stop();
    direct_call_up = false;
  }

  void FinishDrop() {
    if (!env.drop_requested) return;
    env.drop_requested = false;
    if (!CallUp()) return;
    EndCall(true);
    if (options.modem) modem.CarrierLost();
    env.actions.push_back(Action{env.now, Action::Kind::kDropLine, {}});
  }

  Options options;
  Report report;
  detail::Env env;
  detail::BankSite bank;
  detail::Pad pad;
  detail::HayesModem modem;
  bool attached = false;
  bool direct_call_up = false;
};

FarEnd::FarEnd(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

FarEnd::~FarEnd() = default;

void FarEnd::OnConnected(std::uint64_t now_ms) {
  Impl& m = *impl_;
  m.Advance(now_ms);
  if (m.attached) OnHangUp(now_ms);
  m.report = Report{};
  m.attached = true;
  if (m.options.modem) {
    m.modem.Attach();
  } else {
    m.direct_call_up = true;
    m.pad.OnCarrier();
  }
}

void FarEnd::OnHangUp(std::uint64_t now_ms) {
  Impl& m = *impl_;
  m.Advance(now_ms);
  if (!m.attached) return;
  if (m.options.modem) {
    m.modem.Detach();
  } else if (m.direct_call_up) {
    m.EndCall(false);
  }
  m.attached = false;
}

void FarEnd::OnBytes(std::string_view bytes, std::uint64_t now_ms) {
  Impl& m = *impl_;
  m.Advance(now_ms);
  if (!m.attached) return;
  for (char c : bytes) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (m.options.modem) {
      m.modem.OnByte(byte);
    } else if (m.direct_call_up) {
      m.pad.OnByte(byte);
    }
    m.FinishDrop();
  }
}

void FarEnd::OnBreak(bool on, std::uint64_t now_ms) {
  Impl& m = *impl_;
  m.Advance(now_ms);
  if (!m.attached) return;
  if (m.options.modem ? m.modem.online() : m.direct_call_up) m.pad.OnBreak(on);
  m.FinishDrop();
}

void FarEnd::OnTick(std::uint64_t now_ms) { impl_->Advance(now_ms); }

std::optional<std::uint64_t> FarEnd::NextDeadline() const { return impl_->NextDeadline(); }

std::vector<Action> FarEnd::TakeActions() {
  std::vector<Action> out;
  out.swap(impl_->env.actions);
  return out;
}

const Report& FarEnd::report() const { return impl_->report; }

const Options& FarEnd::options() const { return impl_->options; }

std::string FarEnd::Phase() const { return impl_->Phase(); }

bool FarEnd::call_ended() const { return impl_->report.call_ended; }

}  // namespace korval::netemu
