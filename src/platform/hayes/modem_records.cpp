#include "platform/hayes/modem_records.h"

#include <algorithm>
#include <cctype>

namespace korval::platform::hayes {
namespace {

// A part whose place is written by hand (inside another part), not by the filler.
constexpr std::uint32_t kNoField = 0xFFFFFFFF;

constexpr std::uint32_t kAddressModeAddressId = 0x1;
constexpr std::uint32_t kDevCapFlagsCloseDrop = 0x20;
constexpr std::uint32_t kAnswerModeNone = 0x1;
constexpr std::uint32_t kLineFeatureMakeCall = 0x8;
constexpr std::uint32_t kAddressSharingPrivate = 0x1;
constexpr std::uint32_t kCallFeatureDrop = 0x20;
constexpr std::uint32_t kDevStatusConnected = 0x1;
constexpr std::uint32_t kDevStatusInService = 0x4;

constexpr std::uint32_t kTranslateCanonical = 0x1;
constexpr std::uint32_t kTranslateInternational = 0x2;
constexpr std::uint32_t kTranslateLongDistance = 0x4;
constexpr std::uint32_t kTranslateLocal = 0x8;

constexpr std::uint32_t kLocationEntrySize = 68;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Keeps what a modem dials, drops the usual separators, refuses anything else.
std::optional<std::string> DialableNumber(std::string_view text) {
  std::string number;
  for (const char c : text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (IsDigit(c) || std::string_view("*#,!@$ABCDPTW").find(upper) != std::string_view::npos) {
      number += upper;
    } else if (std::string_view(" -./()").find(c) == std::string_view::npos) {
      return std::nullopt;
    }
  }
  return number;
}

}  // namespace

void RecordFiller::AddPart(std::uint32_t size_field, std::uint32_t offset_field,
                           std::string bytes) {
  if (bytes.empty()) return;
  parts_.push_back({size_field, offset_field, std::move(bytes)});
}

void RecordFiller::AddText(std::uint32_t size_field, std::uint32_t offset_field,
                           std::string_view text) {
  std::string bytes(text);
  bytes += '\0';
  AddPart(size_field, offset_field, std::move(bytes));
}

std::uint32_t RecordFiller::NeededSize() const {
  std::uint32_t needed = fixed_.size();
  for (const Part& part : parts_) needed += static_cast<std::uint32_t>(part.bytes.size());
  return needed;
}

std::int32_t RecordFiller::Finish(Record& out) const {
  const std::uint32_t room = std::min(out.TotalSize(), out.size());
  const std::uint32_t needed = NeededSize();
  if (room < fixed_.size()) {
    if (room >= 8) out.Set32(field::kNeededSize, needed);
    return kLineErrStructureTooSmall;
  }
  for (std::uint32_t at = field::kNeededSize; at < fixed_.size(); ++at) {
    out.Set8(at, fixed_.Get8(at));
  }
  out.Set32(field::kNeededSize, needed);
  if (room < needed) {
    out.Set32(field::kUsedSize, fixed_.size());
    return 0;
  }
  std::uint32_t at = fixed_.size();
  for (const Part& part : parts_) {
    const auto size = static_cast<std::uint32_t>(part.bytes.size());
    if (part.size_field != kNoField) out.Set32(part.size_field, size);
    if (part.offset_field != kNoField) out.Set32(part.offset_field, at);
    out.PutBytes(at, part.bytes);
    at += size;
  }
  out.Set32(field::kUsedSize, needed);
  return 0;
}

std::uint32_t LineStatesOf() { return kLineDevStateOpen | kLineDevStateClose; }
std::uint32_t AddressStatesOf() { return kAddrStateInUseZero | kAddrStateInUseOne; }

std::int32_t FillDevCaps(std::uint32_t device_id, const ModemLineConfig& config, Record& caps) {
  RecordFiller filler(kDevCapsSize);
  filler.Set32(28, device_id);  // dwPermanentLineID
  filler.Set32(40, kStringFormatAscii);
  filler.Set32(44, kAddressModeAddressId);
  filler.Set32(field::kDevNumAddresses, 1);
  filler.Set32(52, kBearerModeVoice);
  filler.Set32(56, config.bps);  // dwMaxRate
  filler.Set32(field::kDevMediaModes, kMediaModeDataModem);
  filler.Set32(112, kDevCapFlagsCloseDrop);
  filler.Set32(116, 1);  // dwMaxNumActiveCalls
  filler.Set32(120, kAnswerModeNone);
  filler.Set32(field::kDevLineStates, LineStatesOf());
  filler.Set32(236, kLineFeatureMakeCall);
  filler.AddText(12, 16, "Modem AT sur " + config.port);              // provider info
  filler.AddText(32, 36, config.section + " (" + config.port + ")");  // line name
  return filler.Finish(caps);
}

std::int32_t FillAddressCaps(std::uint32_t device_id, const ModemLineConfig&, Record& caps) {
  RecordFiller filler(kAddressCapsSize);
  filler.Set32(12, device_id);
  filler.Set32(32, kAddressSharingPrivate);
  filler.Set32(field::kAddrAddressStates, AddressStatesOf());
  filler.Set32(64,
               kCallStateIdle | kCallStateDialing | kCallStateConnected | kCallStateDisconnected);
  filler.Set32(80, kDisconnectNormal | kDisconnectBusy | kDisconnectNoAnswer |
                       kDisconnectBadAddress | kDisconnectUnavail | kDisconnectNoDialtone);
  filler.Set32(84, 1);  // dwMaxNumActiveCalls
  filler.Set32(field::kAddrCallFeatures, kCallFeatureAnswer | kCallFeatureDrop);
  filler.Set32(176, kAddrFeatureMakeCall);
  return filler.Finish(caps);
}

std::int32_t FillAddressStatus(const LineActivity& activity, Record& status) {
  RecordFiller filler(kAddressStatusSize);
  filler.Set32(12, activity.call_in_use ? 1 : 0);  // dwNumInUse
  filler.Set32(16, activity.call_active ? 1 : 0);  // dwNumActiveCalls
  filler.Set32(field::kAddrStatusFeatures,
               activity.open && !activity.call_active ? kAddrFeatureMakeCall : 0);
  return filler.Finish(status);
}

std::int32_t FillLineDevStatus(const LineActivity& activity, Record& status) {
  RecordFiller filler(kLineDevStatusSize);
  filler.Set32(12, activity.open ? 1 : 0);  // dwNumOpens
  filler.Set32(16, activity.open ? kMediaModeDataModem : 0);
  filler.Set32(20, activity.call_active ? 1 : 0);
  filler.Set32(32, activity.open && !activity.call_active ? kLineFeatureMakeCall : 0);
  filler.Set32(56, kDevStatusConnected | kDevStatusInService);
  return filler.Finish(status);
}

std::int32_t FillTranslateCaps(Record& caps) {
  const std::string name = "France";
  Record entry(kLocationEntrySize);
  entry.Set32(0, 1);  // dwPermanentLocationID
  entry.Set32(4, static_cast<std::uint32_t>(name.size()) + 1);
  entry.Set32(8, kTranslateCapsSize + kLocationEntrySize);  // the name follows the list
  entry.Set32(12, kHomeCountry);
  entry.Set32(52, kHomeCountry);  // dwCountryID

  RecordFiller filler(kTranslateCapsSize);
  filler.Set32(12, 1);  // dwNumLocations
  filler.Set32(24, 1);  // dwCurrentLocationID
  filler.AddPart(16, 20, entry.Bytes(0, kLocationEntrySize));
  std::string text = name;
  text += '\0';
  filler.AddPart(kNoField, kNoField, text);
  return filler.Finish(caps);
}

std::int32_t FillVarString(std::uint32_t format, std::string bytes, Record& var) {
  RecordFiller filler(kVarStringSize);
  filler.Set32(field::kVarStringFormat, format);
  filler.AddPart(field::kVarStringSize, field::kVarStringOffset, std::move(bytes));
  return filler.Finish(var);
}

std::optional<Translation> TranslateAddress(std::string_view address) {
  Translation translation;
  if (address.empty()) return std::nullopt;
  if (address.front() != '+') {
    translation.dialable = std::string(address);
    return translation;
  }
  std::size_t at = 1;
  std::string country;
  while (at < address.size() && IsDigit(address[at]) && country.size() < 4) {
    country += address[at++];
  }
  if (country.empty()) return std::nullopt;
  while (at < address.size() && address[at] == ' ') ++at;
  std::string area;
  if (at < address.size() && address[at] == '(') {
    const std::size_t close = address.find(')', at);
    if (close == std::string_view::npos) return std::nullopt;
    area = std::string(address.substr(at + 1, close - at - 1));
    if (!std::all_of(area.begin(), area.end(), IsDigit)) return std::nullopt;
    at = close + 1;
  }
  // A subaddress, a name or a line end may follow the number.
  const std::string_view rest = address.substr(at, address.find_first_of("|^\r\n", at) - at);
  const std::optional<std::string> number = DialableNumber(rest);
  if (!number || number->empty()) return std::nullopt;

  translation.dest_country = static_cast<std::uint32_t>(std::stoul(country));
  translation.results = kTranslateCanonical;
  if (translation.dest_country != kHomeCountry) {
    translation.dialable = "00" + country + area + *number;
    translation.results |= kTranslateInternational;
  } else if (area.empty()) {
    translation.dialable = *number;
    translation.results |= kTranslateLocal;
  } else {
    translation.dialable = "0" + area + *number;
    translation.results |= kTranslateLongDistance;
  }
  return translation;
}

std::int32_t FillTranslateOutput(const Translation& translation, Record& output) {
  constexpr std::uint32_t kTranslateOutputFixedSize = 40;
  RecordFiller filler(kTranslateOutputFixedSize);
  filler.Set32(28, kHomeCountry);  // dwCurrentCountry
  filler.Set32(32, translation.dest_country);
  filler.Set32(36, translation.results);
  filler.AddText(field::kDialableSize, field::kDialableOffset, translation.dialable);
  filler.AddText(20, 24, translation.dialable);  // displayable
  return filler.Finish(output);
}

}  // namespace korval::platform::hayes
