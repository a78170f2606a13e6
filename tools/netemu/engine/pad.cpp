#include "pad.h"

#include <cctype>

namespace korval::netemu::detail {
namespace {

constexpr std::size_t kMaxLine = 256;

// Neither "TRANSPAC" nor "COM" in it.
const char kPadGarbage[] = "\r\n#@!?*&%\x07\x1B[0m~~\r\n";

}  // namespace

std::optional<std::string> ParseCallLine(const std::string& line, PadCall& call) {
  call = PadCall{};
  call.line = line;
  std::size_t pos = 0;
  if (!line.empty() && line[0] == 'N') {
    const std::size_t dash = line.find('-');
    if (dash == std::string::npos) return "network user identifier without '-'";
    call.has_nui = true;
    call.nui = line.substr(1, dash - 1);
    if (call.nui.empty()) return "empty network user identifier";
    pos = dash + 1;
  }
  std::size_t end = pos;
  while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
  if (end == pos) return "no called address";
  call.address = line.substr(pos, end - pos);
  if (end < line.size()) {
    if (line[end] != 'D') return "unexpected text after the called address";
    call.has_complement = true;
    call.complement = line.substr(end + 1);
    if (call.complement.empty()) return "'D' without complementary data";
  }
  call.seen = true;
  return std::nullopt;
}

Pad::Pad(Env& env, BankSite& bank) : env_(env), bank_(bank) {}

void Pad::Enter(Phase phase, std::optional<std::uint64_t> delay) {
  phase_ = phase;
  unexpected_reported_ = false;
  timer_.reset();
  if (delay) timer_ = env_.now + *delay;
}

void Pad::OnCarrier() {
  const Options& o = env_.options;
  env_.report.carrier = true;
  line_.clear();
  line_too_long_ = false;
  if (o.drop_at == Step::kBanner) {
    Enter(Phase::kDropDue, o.banner_delay_ms);
  } else if (o.silent_at == Step::kBanner) {
    Enter(Phase::kCommand);
  } else {
    Enter(Phase::kBannerDue, o.banner_delay_ms);
  }
}

void Pad::Stop() {
  if (phase_ == Phase::kBank) bank_.Stop();
  Enter(Phase::kIdle);
}

const char* Pad::PhaseName() const {
  switch (phase_) {
    case Phase::kIdle: return "PAD idle";
    case Phase::kBannerDue: return "PAD about to send its banner";
    case Phase::kCommand: return "PAD waiting for a command line";
    case Phase::kComDue: return "PAD about to report the connection";
    case Phase::kNoCom: return "PAD never reporting the connection";
    case Phase::kClearDue: return "PAD clearing the call";
    case Phase::kDropDue: return "PAD about to hang up";
    case Phase::kBank: return bank_.PhaseName();
  }
  return "?";
}

void Pad::Unexpected(const char* what) {
  if (unexpected_reported_) return;
  unexpected_reported_ = true;
  env_.Violate(std::string(what) + " while " + PhaseName());
}

void Pad::OnByte(std::uint8_t byte) {
  switch (phase_) {
    case Phase::kBank: bank_.OnByte(byte); return;
    case Phase::kCommand: break;
    case Phase::kIdle: return;
    default: Unexpected("bytes sent to the PAD"); return;
  }
  if (byte == '\n') return;
  if (byte != '\r') {
    if (line_.size() < kMaxLine) {
      line_.push_back(static_cast<char>(byte));
    } else {
      line_too_long_ = true;
    }
    return;
  }
  std::string line;
  line.swap(line_);
  if (line_too_long_) {
    line_too_long_ = false;
    env_.Violate("PAD command line longer than " + std::to_string(kMaxLine) + " characters");
    env_.Send("\r\nERR\r\n");
    return;
  }
  OnLine(line);
}

void Pad::OnLine(const std::string& line) {
  const Options& o = env_.options;
  Report& report = env_.report;
  report.pad_lines.push_back(line);
  if (line.empty()) {
    env_.Violate("empty line sent to the PAD");
    return;
  }
  if (line == "PROF7") {
    if (report.profile7) env_.Violate("PROF7 sent twice");
    report.profile7 = true;
    if (o.drop_at == Step::kProf7) {
      env_.RequestDrop();
    }
    return;
  }
  PadCall call;
  if (auto error = ParseCallLine(line, call)) {
    env_.Violate("PAD line \"" + line + "\" not understood: " + *error);
    env_.Send("\r\nERR\r\n");
    return;
  }
  report.call = call;
  if (o.drop_at == Step::kCom) {
    Enter(Phase::kDropDue, o.com_delay_ms);
  } else if (!o.bank_number.empty() && call.address != o.bank_number) {
    env_.Violate("called address " + call.address + " is not the bank's " + o.bank_number);
    Enter(Phase::kClearDue, o.com_delay_ms);
  } else if (o.silent_at == Step::kCom) {
    Enter(Phase::kNoCom);
  } else {
    Enter(Phase::kComDue, o.com_delay_ms);
  }
}

void Pad::OnBreak(bool on) {
  if (phase_ == Phase::kBank) {
    bank_.OnBreak(on);
  } else if (on && phase_ != Phase::kIdle) {
    env_.Violate(std::string("break while ") + PhaseName());
  }
}

void Pad::OnTimer() {
  if (phase_ == Phase::kBank) {
    bank_.OnTimer();
    return;
  }
  if (!timer_ || *timer_ > env_.now) return;
  timer_.reset();
  const Options& o = env_.options;
  switch (phase_) {
    case Phase::kBannerDue:
      if (o.garbage_at == Step::kBanner) {
        env_.Send(kPadGarbage);
      } else {
        env_.Send(o.banner);
        env_.report.banner_sent = true;
      }
      Enter(Phase::kCommand);
      return;
    case Phase::kComDue:
      if (o.garbage_at == Step::kCom) {
        env_.Send(kPadGarbage);
        Enter(Phase::kNoCom);
        return;
      }
      env_.Send(o.com_text);
      env_.report.com_sent = true;
      Enter(Phase::kBank);
      bank_.Start(env_.report.profile7);
      return;
    case Phase::kClearDue:
      env_.Send(o.clear_text);
      env_.report.call_cleared = true;
      Enter(Phase::kDropDue, o.clear_drop_delay_ms);
      return;
    case Phase::kDropDue: env_.RequestDrop(); return;
    default: return;
  }
}

std::optional<std::uint64_t> Pad::NextDeadline() const {
  if (phase_ == Phase::kBank) return bank_.NextDeadline();
  return timer_;
}

}  // namespace korval::netemu::detail
