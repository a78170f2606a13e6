#include "report.h"

#include <cstdio>

#include "options.h"

namespace korval::netemu {

const char* EorKindName(EorKind kind) {
  switch (kind) {
    case EorKind::kNone: return "none";
    case EorKind::kCarriageReturn: return "carriage return";
    case EorKind::kBreak: return "break";
    case EorKind::kSilence: return "silence";
  }
  return "?";
}

namespace {

struct StepEntry {
  Step step;
  const char* name;
};

constexpr StepEntry kSteps[] = {
    {Step::kNone, "none"}, {Step::kBanner, "banner"}, {Step::kProf7, "prof7"}, {Step::kCom, "com"},
    {Step::kCard, "card"}, {Step::kOkf, "okf"},       {Step::kEnd, "end"},
};

const char* YesNo(bool value) { return value ? "yes" : "no"; }

// Printable text, other bytes as \xNN.
std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

std::string Ms(std::uint64_t ms) { return std::to_string(ms) + " ms"; }

}  // namespace

const char* StepName(Step step) {
  for (const StepEntry& e : kSteps) {
    if (e.step == step) return e.name;
  }
  return "?";
}

std::optional<Step> ParseStep(std::string_view name) {
  for (const StepEntry& e : kSteps) {
    if (name == e.name) return e.step;
  }
  return std::nullopt;
}

std::string FormatReport(const Report& r) {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };

  line("[modem]");
  for (const std::string& command : r.at_commands) line("at command: AT" + Visible(command));
  for (const std::string& number : r.dialled) line("dialled: " + number);
  line(std::string("carrier: ") + YesNo(r.carrier));

  line("[pad]");
  line(std::string("banner sent: ") + YesNo(r.banner_sent));
  line(std::string("profile 7: ") + YesNo(r.profile7));
  for (const std::string& text : r.pad_lines) line("pad line: \"" + Visible(text) + "\"");
  line(std::string("call line: ") + (r.call.seen ? "\"" + Visible(r.call.line) + "\"" : "none"));
  if (r.call.seen) {
    line("nui: " + (r.call.has_nui ? r.call.nui : std::string("none")));
    line("address: " + r.call.address);
    line("complement: " + (r.call.has_complement ? r.call.complement : std::string("none")));
  }
  line(std::string("com sent: ") + YesNo(r.com_sent));
  line(std::string("call cleared: ") + YesNo(r.call_cleared));

  line("[bank]");
  line(std::string("card received: ") + YesNo(r.card_received));
  if (r.card_received) {
    line("card: \"" + Visible(r.card) + "\"");
    line("card length: " + std::to_string(r.card_info.length) +
         ", end-of-record signal: " + EorKindName(r.card_info.eor));
  }
  line("answer: " + (r.answer.empty() ? std::string("none") : "\"" + Visible(r.answer) + "\""));
  line("records received: " + std::to_string(r.records.size()));
  for (std::size_t i = 0; i < r.records.size(); ++i) {
    const RecordInfo& info = r.records[i];
    std::string text = "record " + std::to_string(i + 1) + ": " + std::to_string(info.length) +
                       " bytes, at " + Ms(info.first_byte_ms) +
                       ", end-of-record signal: " + EorKindName(info.eor);
    text += ", quiet after: " + (info.quiet_after_ms ? Ms(*info.quiet_after_ms) : "-");
    if (info.invalid_bytes) text += ", invalid bytes: " + std::to_string(info.invalid_bytes);
    line(text);
  }
  line("bytes received: " + std::to_string(r.received_file.size()));
  line(std::string("end record received: ") + YesNo(r.end_record_received));
  line(std::string("okf sent: ") + YesNo(r.okf_sent));
  line("statement bytes sent: " + std::to_string(r.statement_bytes_sent));
  line(std::string("statement end record sent: ") + YesNo(r.statement_end_sent));
  line(std::string("acknowledgement received: ") + YesNo(r.ack_received));
  if (r.ack_received) {
    line("acknowledgement end-of-record signal: " + std::string(EorKindName(r.ack_info.eor)));
  }

  line("[end]");
  line(std::string("call ended: ") + YesNo(r.call_ended));
  if (r.call_ended) {
    line(std::string("hung up by: ") + (r.dropped_by_far_end ? "far end" : "program"));
    line("ended in: " + r.ended_in);
  }

  line("[violations]");
  line("count: " + std::to_string(r.violations.size()));
  for (const Violation& v : r.violations) line("at " + Ms(v.at_ms) + ": " + Visible(v.what));
  return out;
}

}  // namespace korval::netemu
