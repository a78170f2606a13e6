// The modem's text: the result-code reader and the filter that takes the modem's
// NO CARRIER out of the data stream, fed in arbitrary pieces at arbitrary times.
//
// Input: pieces, each a length byte (low 6 bits; bit 6: a silent turn before it,
// bit 7: the silence outlasts the hold) followed by that many bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/hayes/hayes_text.h"
#include "platform/hayes/modem_hangup_text.h"

namespace {

using korval::platform::hayes::ClassifyReply;
using korval::platform::hayes::ConnectRate;
using korval::platform::hayes::ModemHangUpText;
using korval::platform::hayes::ModemReply;
using korval::platform::hayes::ReplyScanner;

constexpr std::uint32_t kHoldMs = 40;

void Fail(const char* what) {
  std::fprintf(stderr, "modem text: %s\n", what);
  std::abort();
}

std::string WithoutBreaks(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (c != '\r' && c != '\n') kept += c;
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReplyScanner scanner;
  ModemHangUpText filter(kHoldMs);
  std::string stream;  // every byte fed
  std::string lines;   // every line the scanner gave, joined
  std::string passed;  // what the filter let through as data
  bool hung_up = false;
  bool released_by_time = false;  // held bytes let go by a silence
  std::int64_t now = 0;

  std::size_t at = 0;
  while (at < size && !hung_up) {
    const std::uint8_t head = data[at++];
    const std::size_t length = std::min<std::size_t>(head & 0x3F, size - at);
    const std::string_view piece(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if (head & 0x40) {
      now += (head & 0x80) ? kHoldMs : kHoldMs / 4;
      const ModemHangUpText::Result idle = filter.Feed({}, now);
      if (!idle.data.empty()) released_by_time = true;
      passed += idle.data;
    }
    ++now;
    stream.append(piece);
    scanner.Feed(piece);
    while (std::optional<std::string> line = scanner.NextLine()) {
      if (line->empty() || line->find_first_of("\r\n") != std::string::npos) {
        Fail("a line is empty or holds a line break");
      }
      const ModemReply reply = ClassifyReply(*line);
      if (ConnectRate(*line) != 0 && reply != ModemReply::kConnect) {
        Fail("a rate from a line that is no CONNECT");
      }
      lines += *line;
    }
    // An empty piece is an idle turn too: a hold that has run out lets its bytes go.
    const ModemHangUpText::Result result = filter.Feed(piece, now);
    if (piece.empty() && !result.data.empty()) released_by_time = true;
    passed += result.data;
    hung_up = result.hung_up;
  }

  if (WithoutBreaks(stream) != lines + WithoutBreaks(scanner.TakeRest())) {
    Fail("the scanner lost or invented bytes");
  }

  const std::string_view text = ModemHangUpText::kText;
  if (hung_up) {
    // Everything before the modem's text is data, and nothing after it.
    if ((passed + std::string(text)) != stream.substr(0, passed.size() + text.size()) ||
        stream.size() < passed.size() + text.size()) {
      Fail("the data before the modem's text is not what came");
    }
    if (!released_by_time && stream.find(text) != passed.size()) {
      Fail("the modem's text was not caught where it first came");
    }
    return 0;
  }
  if (!released_by_time && stream.find(text) != std::string::npos) {
    Fail("the modem's text went through as data");
  }
  const std::string rest = filter.Finish();
  const std::string all = passed + rest;
  if (stream.compare(0, all.size(), all) != 0) Fail("data bytes changed or reordered");
  const std::string_view dropped = std::string_view(stream).substr(all.size());
  if (!dropped.empty() && !(dropped.size() < text.size() && text.starts_with(dropped) &&
                            dropped.starts_with(text.substr(0, text.size() - 2)))) {
    Fail("data bytes held back were lost at the end");
  }
  return 0;
}
