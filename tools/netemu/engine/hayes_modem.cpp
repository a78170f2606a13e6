#include "hayes_modem.h"

#include <cctype>
#include <utility>

namespace korval::netemu::detail {
namespace {

constexpr std::size_t kMaxCommandLine = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int ReadNumber(const std::string& line, std::size_t& i, int fallback) {
  if (i >= line.size() || !IsDigit(line[i])) return fallback;
  int value = 0;
  while (i < line.size() && IsDigit(line[i])) {
    value = value * 10 + (line[i] - '0');
    if (value > 100000) value = 100000;
    ++i;
  }
  return value;
}

}  // namespace

HayesModem::HayesModem(Env& env, Hooks hooks) : env_(env), hooks_(std::move(hooks)) { Reset(); }

void HayesModem::Reset() {
  echo_ = true;
  verbose_ = true;
  quiet_ = false;
  escape_char_ = '+';
  guard_ms_ = env_.options.escape_guard_ms;
  registers_.clear();
}

void HayesModem::Attach() {
  Reset();
  phase_ = Phase::kCommand;
  seen_a_ = in_line_ = line_overflow_ = false;
  line_.clear();
  last_line_.clear();
  dial_due_.reset();
  plus_count_ = 0;
}

void HayesModem::Detach() {
  if (call_up()) hooks_.program_hung_up();
  phase_ = Phase::kDetached;
  dial_due_.reset();
  plus_count_ = 0;
}

const char* HayesModem::PhaseName() const {
  switch (phase_) {
    case Phase::kDetached: return "modem not opened";
    case Phase::kCommand: return "modem in command mode";
    case Phase::kDialing: return "modem dialling";
    case Phase::kOnline: return "modem on line";
    case Phase::kOnlineCommand: return "modem in command mode during a call";
  }
  return "?";
}

void HayesModem::SendResult(Result result) {
  if (quiet_) return;
  const char* text = "OK";
  int code = 0;
  switch (result) {
    case Result::kOk: break;
    case Result::kConnect:
      text = env_.options.connect_text.c_str();
      code = 12;
      break;
    case Result::kNoCarrier:
      text = "NO CARRIER";
      code = 3;
      break;
    case Result::kError:
      text = "ERROR";
      code = 4;
      break;
    case Result::kNoDialtone:
      text = "NO DIALTONE";
      code = 6;
      break;
    case Result::kBusy:
      text = "BUSY";
      code = 7;
      break;
    case Result::kNoAnswer:
      text = "NO ANSWER";
      code = 8;
      break;
  }
  if (verbose_) {
    env_.Send(std::string("\r\n") + text + "\r\n");
  } else {
    env_.Send(std::to_string(code) + "\r");
  }
}

void HayesModem::OnByte(std::uint8_t byte) {
  switch (phase_) {
    case Phase::kDetached: return;
    case Phase::kDialing:
      // Any character aborts the dialling, as on the real thing.
      dial_due_.reset();
      phase_ = Phase::kCommand;
      SendResult(Result::kNoCarrier);
      return;
    case Phase::kOnline: OnlineByte(byte); return;
    case Phase::kCommand:
    case Phase::kOnlineCommand: CommandByte(byte); return;
  }
}

void HayesModem::CommandByte(std::uint8_t byte) {
  if (echo_) env_.Send(std::string(1, static_cast<char>(byte)));
  const char c = static_cast<char>(byte);
  if (!in_line_) {
    if (c == 'A' || c == 'a') {
      seen_a_ = true;
    } else if (seen_a_ && (c == 'T' || c == 't')) {
      in_line_ = true;
      seen_a_ = false;
      line_.clear();
      line_overflow_ = false;
    } else if (seen_a_ && c == '/') {
      seen_a_ = false;
      Execute(last_line_);
    } else {
      seen_a_ = false;
    }
    return;
  }
  if (c == '\r') {
    in_line_ = false;
    if (line_overflow_) {
      SendResult(Result::kError);
      return;
    }
    last_line_ = line_;
    Execute(line_);
    return;
  }
  if (c == '\n') return;
  if (c == '\b' || byte == 0x7F) {
    if (!line_.empty()) line_.pop_back();
    return;
  }
  if (line_.size() < kMaxCommandLine) {
    line_.push_back(c);
  } else {
    line_overflow_ = true;
  }
}

void HayesModem::HangUp() {
  if (!call_up()) return;
  hooks_.program_hung_up();  // first, so that the report names the phase left
  phase_ = Phase::kCommand;
  plus_count_ = 0;
}

void HayesModem::Execute(const std::string& line) {
  env_.report.at_commands.push_back(line);
  std::string info;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    ++i;
    if (c == ' ') continue;
    switch (c) {
      case 'D':
        if (phase_ != Phase::kCommand) {
          SendResult(Result::kError);
          return;
        }
        Dial(line.substr(i));
        return;
      case 'E': echo_ = ReadNumber(line, i, 0) != 0; break;
      case 'V': verbose_ = ReadNumber(line, i, 0) != 0; break;
      case 'Q': quiet_ = ReadNumber(line, i, 0) != 0; break;
      case 'H':
        if (ReadNumber(line, i, 0) == 0) HangUp();
        break;
      case 'Z':
        ReadNumber(line, i, 0);
        HangUp();
        Reset();
        break;
      case 'O':
        ReadNumber(line, i, 0);
        if (phase_ == Phase::kOnlineCommand) {
          phase_ = Phase::kOnline;
          last_rx_ms_ = env_.now;
          SendResult(Result::kConnect);
        } else {
          SendResult(Result::kNoCarrier);
        }
        return;
      case 'A':
        SendResult(Result::kNoCarrier);  // nobody is calling
        return;
      case 'I':
        ReadNumber(line, i, 0);
        info += "\r\nKORVAL NETEMU\r\n";
        break;
      case 'S': {
        const int reg = ReadNumber(line, i, -1);
        if (reg < 0 || i >= line.size()) {
          SendResult(Result::kError);
          return;
        }
        if (line[i] == '?') {
          ++i;
          info += "\r\n" + std::to_string(registers_.count(reg) ? registers_[reg] : 0) + "\r\n";
        } else if (line[i] == '=') {
          ++i;
          const int value = ReadNumber(line, i, 0);
          registers_[reg] = value;
          if (reg == 2) escape_char_ = static_cast<std::uint8_t>(value);
          if (reg == 12) guard_ms_ = static_cast<std::uint64_t>(value) * 20;  // fiftieths
        } else {
          SendResult(Result::kError);
          return;
        }
        break;
      }
      case '&':
      case '\\':
      case '%':
        if (i >= line.size() || !std::isalpha(static_cast<unsigned char>(line[i]))) {
          SendResult(Result::kError);
          return;
        }
        ++i;
        ReadNumber(line, i, 0);
        break;
      case '+':
        i = line.size();  // extended commands are accepted whole
        break;
      default:
        if (std::isalpha(static_cast<unsigned char>(c))) {
          ReadNumber(line, i, 0);  // B, C, L, M, N, P, T, W, X, Y...
          break;
        }
        SendResult(Result::kError);
        return;
    }
  }
  env_.Send(info);
  SendResult(Result::kOk);
}

void HayesModem::Dial(const std::string& dial_string) {
  std::string number;
  for (char c : dial_string) {
    if (IsDigit(c) || c == '*' || c == '#') number.push_back(c);
  }
  env_.report.dialled.push_back(number);
  const Options& o = env_.options;
  if (number.empty() || o.dial_result == DialResult::kError) {
    SendResult(Result::kError);
    return;
  }
  if (!o.access_number.empty() && number != o.access_number) {
    env_.Violate("dialled " + number + ", the network's access point is " + o.access_number);
  }
  phase_ = Phase::kDialing;
  dial_due_ = env_.now + o.dial_delay_ms;
}

void HayesModem::OnlineByte(std::uint8_t byte) {
  const bool opens = plus_count_ == 0 && env_.now - last_rx_ms_ >= guard_ms_;
  const bool continues = plus_count_ > 0 && plus_count_ < 3 && env_.now - plus_last_ms_ < guard_ms_;
  if (byte == escape_char_ && (opens || continues)) {
    ++plus_count_;
    plus_last_ms_ = last_rx_ms_ = env_.now;
    return;
  }
  FlushHeldPlus();
  last_rx_ms_ = env_.now;
  hooks_.deliver(byte);
}

void HayesModem::FlushHeldPlus() {
  const int held = plus_count_;
  plus_count_ = 0;
  for (int k = 0; k < held && phase_ == Phase::kOnline && !env_.drop_requested; ++k) {
    hooks_.deliver(escape_char_);
  }
}

void HayesModem::OnTimer() {
  if (dial_due_ && *dial_due_ <= env_.now) {
    dial_due_.reset();
    phase_ = Phase::kCommand;
    const Options& o = env_.options;
    const bool wrong_number = !o.access_number.empty() && !env_.report.dialled.empty() &&
                              env_.report.dialled.back() != o.access_number;
    if (wrong_number) {
      SendResult(Result::kNoAnswer);
      return;
    }
    switch (o.dial_result) {
      case DialResult::kConnect:
        phase_ = Phase::kOnline;
        last_rx_ms_ = env_.now;
        plus_count_ = 0;
        SendResult(Result::kConnect);
        hooks_.call_up();
        return;
      case DialResult::kBusy: SendResult(Result::kBusy); return;
      case DialResult::kNoAnswer: SendResult(Result::kNoAnswer); return;
      case DialResult::kNoCarrier: SendResult(Result::kNoCarrier); return;
      case DialResult::kNoDialtone: SendResult(Result::kNoDialtone); return;
      case DialResult::kError: SendResult(Result::kError); return;
    }
  }
  if (plus_count_ > 0 && env_.now - plus_last_ms_ >= guard_ms_) {
    if (plus_count_ == 3) {
      plus_count_ = 0;
      phase_ = Phase::kOnlineCommand;
      seen_a_ = in_line_ = false;
      SendResult(Result::kOk);
    } else {
      FlushHeldPlus();  // too slow to be an escape: they were data
    }
  }
}

std::optional<std::uint64_t> HayesModem::NextDeadline() const {
  std::optional<std::uint64_t> due = dial_due_;
  if (plus_count_ > 0) due = Earliest(due, plus_last_ms_ + guard_ms_);
  return due;
}

void HayesModem::CarrierLost() {
  if (!call_up()) return;
  phase_ = Phase::kCommand;
  plus_count_ = 0;
  seen_a_ = in_line_ = false;
  SendResult(Result::kNoCarrier);
}

}  // namespace korval::netemu::detail
