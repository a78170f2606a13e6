#include "cli.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

namespace korval::netemu {
namespace {

std::optional<std::uint64_t> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::optional<std::uint64_t> ParseSecondsAsMs(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(seconds > 0) || seconds > 1e7) return std::nullopt;
  return static_cast<std::uint64_t>(seconds * 1000.0);
}

bool IsAllowed(Step step, const std::vector<Step>& allowed) {
  for (Step s : allowed) {
    if (s == step) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> ParseCommandLine(const std::vector<std::string>& args,
                                            CliConfig& config) {
  Options& o = config.engine;
  using Setter = std::function<std::optional<std::string>(const std::string&)>;

  auto count = [](std::uint64_t& target) -> Setter {
    return [&target](const std::string& v) -> std::optional<std::string> {
      auto n = ParseCount(v);
      if (!n) return "not a whole number: " + v;
      target = *n;
      return std::nullopt;
    };
  };
  auto size = [](std::size_t& target) -> Setter {
    return [&target](const std::string& v) -> std::optional<std::string> {
      auto n = ParseCount(v);
      if (!n) return "not a whole number: " + v;
      target = static_cast<std::size_t>(*n);
      return std::nullopt;
    };
  };
  auto text = [](std::string& target) -> Setter {
    return [&target](const std::string& v) -> std::optional<std::string> {
      target = v;
      return std::nullopt;
    };
  };
  auto code = [](std::string& target) -> Setter {
    return [&target](const std::string& v) -> std::optional<std::string> {
      if (v.size() > 4) return "a code has at most 4 characters: " + v;
      target = v;
      return std::nullopt;
    };
  };
  // The allowed steps are copied: an initializer_list would not outlive this call.
  auto step = [](Step& target, std::vector<Step> allowed) -> Setter {
    return [&target, allowed](const std::string& v) -> std::optional<std::string> {
      auto s = ParseStep(v);
      if (!s || !IsAllowed(*s, allowed)) return "step not allowed here: " + v;
      target = *s;
      return std::nullopt;
    };
  };

  std::uint64_t drop_records = 0;
  std::uint64_t drop_bytes = 0;
  std::uint64_t record_length = 0;
  bool drop_records_set = false;
  bool drop_bytes_set = false;

  const std::map<std::string, Setter> with_value = {
      {"--bank-number", text(o.bank_number)},
      {"--access-number", text(o.access_number)},
      {"--answer",
       [&o](const std::string& v) -> std::optional<std::string> {
         if (v == "OK" || v == "OK ") {
           o.verdict = "OK ";
         } else if (v == "NOK") {
           o.verdict = "NOK";
         } else {
           return "the answer is \"OK \" or \"NOK\", not " + v;
         }
         return std::nullopt;
       }},
      {"--code1", code(o.code1)},
      {"--code2", code(o.code2)},
      {"--statement", text(config.statement_path)},
      {"--chunk-size", size(o.chunk_size)},
      {"--chunk-pace-ms", count(o.chunk_pace_ms)},
      {"--statement-delay-ms", count(o.statement_delay_ms)},
      {"--record-length",
       [&record_length](const std::string& v) -> std::optional<std::string> {
         auto n = ParseCount(v);
         if (!n || (*n != 0 && *n != 160 && *n != 560)) return "record length 0, 160 or 560: " + v;
         record_length = *n;
         return std::nullopt;
       }},
      {"--received", text(config.received_path)},
      {"--report", text(config.report_path)},
      {"--silent-at",
       step(o.silent_at, {Step::kBanner, Step::kCom, Step::kCard, Step::kOkf, Step::kEnd})},
      {"--garbage-at", step(o.garbage_at, {Step::kBanner, Step::kCom, Step::kCard, Step::kOkf})},
      {"--drop-at",
       step(o.drop_at, {Step::kBanner, Step::kProf7, Step::kCom, Step::kCard, Step::kOkf})},
      {"--drop-after-records",
       [&](const std::string& v) -> std::optional<std::string> {
         drop_records_set = true;
         return count(drop_records)(v);
       }},
      {"--drop-after-bytes",
       [&](const std::string& v) -> std::optional<std::string> {
         drop_bytes_set = true;
         return count(drop_bytes)(v);
       }},
      {"--dial-delay-ms", count(o.dial_delay_ms)},
      {"--banner-delay-ms", count(o.banner_delay_ms)},
      {"--com-delay-ms", count(o.com_delay_ms)},
      {"--answer-delay-ms", count(o.answer_delay_ms)},
      {"--okf-delay-ms", count(o.okf_delay_ms)},
      {"--silence-ms", count(o.silence_eor_ms)},
      {"--timeout",
       [&config](const std::string& v) -> std::optional<std::string> {
         auto ms = ParseSecondsAsMs(v);
         if (!ms) return "not a positive number of seconds: " + v;
         config.timeout_ms = ms;
         return std::nullopt;
       }},
  };
  const std::map<std::string, std::function<void()>> flags = {
      {"--busy", [&o] { o.dial_result = DialResult::kBusy; }},
      {"--no-answer", [&o] { o.dial_result = DialResult::kNoAnswer; }},
      {"--no-carrier", [&o] { o.dial_result = DialResult::kNoCarrier; }},
      {"--no-dialtone", [&o] { o.dial_result = DialResult::kNoDialtone; }},
      {"--dial-error", [&o] { o.dial_result = DialResult::kError; }},
      {"--no-modem", [&o] { o.modem = false; }},
      {"--once", [&config] { config.once = true; }},
      {"--verbose", [&config] { config.verbose = true; }},
      {"--help", [&config] { config.help = true; }},
      {"-h", [&config] { config.help = true; }},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (auto flag = flags.find(name); flag != flags.end()) {
      if (value) return "option " + name + " takes no value";
      flag->second();
      continue;
    }
    auto option = with_value.find(name);
    if (option == with_value.end()) return "unknown option: " + args[i];
    if (!value) {
      if (i + 1 >= args.size()) return "option " + name + " needs a value";
      value = args[++i];
    }
    if (auto error = option->second(*value)) return name + ": " + *error;
  }

  o.record_length = static_cast<std::size_t>(record_length);
  if (drop_records_set) o.drop_after_records = static_cast<std::size_t>(drop_records);
  if (drop_bytes_set) o.drop_after_bytes = static_cast<std::size_t>(drop_bytes);
  o.mode = config.statement_path.empty() ? BankMode::kReceiveFile : BankMode::kSendStatement;
  if (o.chunk_size == 0) return "--chunk-size: must be at least 1";
  if (drop_records_set && o.mode != BankMode::kReceiveFile) {
    return "--drop-after-records applies when the bank receives a file (no --statement)";
  }
  if (drop_bytes_set && o.mode != BankMode::kSendStatement) {
    return "--drop-after-bytes applies when the bank sends a statement (--statement)";
  }
  if (o.silent_at == Step::kOkf && o.mode != BankMode::kReceiveFile) {
    return "--silent-at okf applies when the bank receives a file";
  }
  if (o.silent_at == Step::kEnd && o.mode != BankMode::kSendStatement) {
    return "--silent-at end applies when the bank sends a statement";
  }
  return std::nullopt;
}

std::string HelpText() {
  return R"(Usage: korval-netemu [OPTION]...
Plays the far end of a modem line on a pseudo-terminal: a Hayes modem, the
TRANSPAC PAD and a bank's site (EBCDIC). The first line written to standard
output is the pseudo-terminal's device path, for the program under test.

Bank site:
  --bank-number NUMBER     the bank's subscriber number; another called address
                           is cleared (text without COM) and the line dropped
  --answer VERDICT         answer to the parameter card: "OK " (default) or "NOK"
  --code1 CODE             first code of the answer (up to 4 characters, padded
  --code2 CODE             with blanks; "    " for four blanks), default 0000
  --statement FILE         send this file as the statement (ANSI text, sent in
                           EBCDIC, then the end record); without it the bank
                           receives a file of records
  --chunk-size N           statement bytes per write (default 128)
  --chunk-pace-ms MS       time between statement writes (default 20)
  --statement-delay-ms MS  from the answer to the statement (default 200; 0:
                           the statement starts in the answer's write)
  --record-length N        160 or 560; 0 (default) learns it from record 1
  --received FILE          write the received file there, converted from EBCDIC
  --report FILE            write the report there (records, end-of-record
                           signals, pauses, violations)

Modem:
  --access-number NUMBER   number the program must dial (default: any)
  --busy | --no-answer | --no-carrier | --no-dialtone | --dial-error
                           dial result instead of CONNECT 9600
  --no-modem               no AT layer: opening the line brings up the call

Faults (STEP is banner, prof7, com, card, okf or end):
  --silent-at STEP         never send the banner, COM, the card's answer, OKF,
                           or the statement's end record (banner|com|card|okf|end)
  --garbage-at STEP        send garbage instead (banner|com|card|okf)
  --drop-at STEP           hang up before the banner, after PROF7, instead of
                           COM, after the card, or instead of OKF
                           (banner|prof7|com|card|okf)
  --drop-after-records N   hang up after N records received (0: after the answer)
  --drop-after-bytes K     hang up after K bytes of the statement
  --dial-delay-ms MS, --banner-delay-ms MS, --com-delay-ms MS,
  --answer-delay-ms MS, --okf-delay-ms MS
                           a slow peer (defaults 2000, 500, 300, 200, 200)
  --silence-ms MS          under profile 7, quiet that ends a record (default
                           1500; the break itself cannot be seen on a pty)

Run:
  --once                   exit when the call has ended (line closed, or 2 s
                           after a hang-up)
  --timeout SECONDS        exit anyway after this long
  --verbose                trace the traffic on standard error
  --help                   this text

Options take their value as the next argument or after '='.

Hang-up: the emulator keeps no slave descriptor open, so when the program
closes the device the master side reports a hang-up (POLLHUP, or EIO on read),
and the device can be opened again for a next call. A hang-up by the far end
is sent as NO CARRIER; with --once, or without the modem layer, the run then
ends and the pseudo-terminal is closed.

Exit status: 0 done, 1 system error, 2 bad usage, 3 timeout reached,
4 done but the report lists protocol violations.
)";
}

}  // namespace korval::netemu
