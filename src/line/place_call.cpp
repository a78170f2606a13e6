#include <cctype>

#include "line/call_control.h"
#include "line/error_boxes.h"
#include "line/line_error_names.h"
#include "line/line_open.h"
#include "process/process.h"

namespace korval::line {
namespace {

using platform::Record;
namespace field = platform::field;

// A dialable string that does not fit DialString is refused like a failed
// translation, never cut.
constexpr std::uint32_t kDialStringTooLong = kLineErrInvalAddress;

void ReportTranslationFailure(Process& process, platform::WindowHandle window, std::uint32_t code) {
  ReportLineError(process, code);
  process.os.windows.MessageBox(window, "Erreur", "Erreur dans la traduction d'adresse",
                                platform::kMbOk);
}

std::string CanonicalAddress(std::string& number) {
  std::string country = "33";
  std::string area = "0";
  KeypadDigits(country);
  KeypadDigits(area);
  KeypadDigits(number);
  return "+" + country + " (" + area + ") " + number;
}

// The dialable string of the translation's output record, or nothing when the record
// does not hold one that fits.
std::optional<std::string> DialableString(const Record& output) {
  if (output.TotalSize() < output.NeededSize()) return std::nullopt;
  const std::uint32_t size = output.Get32(field::kDialableSize);
  const std::uint32_t offset = output.Get32(field::kDialableOffset);
  if (offset > output.size() || size > output.size() - offset) return std::nullopt;
  std::string text = output.Bytes(offset, size);
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  if (text.size() + 1 > kDialStringBytes) return std::nullopt;
  return text;
}

Record CallParameters() {
  Record params(platform::kCallParamsSize);
  params.Set32(field::kCallBearerMode, platform::kBearerModeVoice);
  params.Set32(field::kCallMediaMode, platform::kMediaModeDataModem);
  params.Set32(field::kCallParamFlags, platform::kCallParamFlagsIdle);
  params.Set32(field::kCallAddressMode, platform::kAddressModeAddressId);
  return params;
}

}  // namespace

void KeypadDigits(std::string& text) {
  static constexpr char kDigitOf[] = "22233344455566671778889991";  // A..Z
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && std::isalpha(byte)) c = kDigitOf[std::toupper(byte) - 'A'];
  }
}

int PlaceCall(Process& process, std::string& number, platform::WindowHandle window) {
  LineState& line = process.line;
  platform::WindowSystem& windows = process.os.windows;
  if (!line.line_open && OpenLine(process, window) != 0) {
    windows.MessageBox(window, "Erreur dans l'ouverture de la ligne", "Erreur", platform::kMbOk);
    process.call.call_state = platform::kCallStateDisconnected;
    return 0;
  }
  const std::uint32_t features =
      line.address_status ? line.address_status->Get32(field::kAddrStatusFeatures) : 0;
  if ((features & platform::kAddrFeatureMakeCall) == 0) {
    windows.MessageBox(window, "La ligne/adresse ne supporte pas lineMakeCall", process.app_name,
                       platform::kMbOk | platform::kMbIconExclamation);
    return 0;
  }

  const std::string canonical = CanonicalAddress(number);
  if (canonical.size() + 1 > kDialStringBytes) {
    ReportTranslationFailure(process, window, kDialStringTooLong);
    return 0;
  }
  process.call.dial_string = canonical;
  Record output(platform::kTranslateOutputSize);
  const std::int32_t translated = process.os.telephony.lineTranslateAddress(
      line.app_handle, line.device_id, line.api_version, canonical, 0, 0, output);
  if (translated != 0) {
    ReportTranslationFailure(process, window, static_cast<std::uint32_t>(translated));
    return 0;
  }
  const std::optional<std::string> dialable = DialableString(output);
  if (!dialable) {
    ReportTranslationFailure(process, window, kDialStringTooLong);
    return 0;
  }
  // "T" asks for tone dialling; the translation's leading "00" is not dialled.
  process.call.dial_string = "T" + (dialable->size() > 2 ? dialable->substr(2) : std::string());

  CallData& call = process.call;
  call.made_call = 0;
  const std::int32_t request = process.os.telephony.lineMakeCall(
      line.line_handle, &call.made_call, call.dial_string, 0, CallParameters());
  if (request > 0) {
    // A provider that writes the handle only at completion leaves 0 here; the reply
    // or the first call state brings it then.
    call.call_handle = call.made_call;
    call.make_request = request;
    call.call_placed = true;
    return 1;
  }
  ReportLineError(process, static_cast<std::uint32_t>(request));
  windows.MessageBox(platform::kNoWindow, "Erreur", "Erreur en effectuant l'appel",
                     platform::kMbOk);
  return 0;
}

}  // namespace korval::line
