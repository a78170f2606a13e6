#pragma once
// The telephony records of a modem line, filled honestly with the growing-read
// protocol: dwNeededSize always; the variable parts only when dwTotalSize has room
// for everything, else the fixed part alone (and the call still succeeds, so that
// the caller grows the record and asks again). Shared by every back-end that acts as
// the line provider of a Hayes-compatible modem.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/telephony_errors.h"
#include "platform/telephony_records.h"

namespace korval::platform::hayes {

inline constexpr std::uint32_t kStringFormatAscii = 1;
inline constexpr std::uint32_t kStringFormatBinary = 4;
inline constexpr std::uint32_t kAddrStateInUseZero = 0x4;
inline constexpr std::uint32_t kAddrStateInUseOne = 0x8;
inline constexpr std::uint32_t kLineDevStateOpen = 0x200;
inline constexpr std::uint32_t kHomeCountry = 33;

// Fills a variable-size record: its fixed fields, then variable parts placed after
// the fixed part, each described by a size field and an offset field.
class RecordFiller {
 public:
  explicit RecordFiller(std::uint32_t fixed_size) : fixed_(fixed_size) {}
  void Set32(std::uint32_t offset, std::uint32_t value) { fixed_.Set32(offset, value); }
  void AddPart(std::uint32_t size_field, std::uint32_t offset_field, std::string bytes);
  // Text with its terminating NUL, which the size counts.
  void AddText(std::uint32_t size_field, std::uint32_t offset_field, std::string_view text);
  std::uint32_t NeededSize() const;
  // 0, or STRUCTURETOOSMALL when dwTotalSize cannot hold even the fixed part.
  std::int32_t Finish(Record& out) const;

 private:
  struct Part {
    std::uint32_t size_field;
    std::uint32_t offset_field;
    std::string bytes;
  };
  Record fixed_;
  std::vector<Part> parts_;
};

// What a line device is, from its win.ini section.
struct ModemLineConfig {
  std::string section;  // "MODEM0"
  std::string port;     // the device path
  std::uint32_t bps = 9600;
  std::string init = "ATZ";
};

// What the records say about the line's one call, when there is one.
struct LineActivity {
  bool open = false;
  bool call_in_use = false;  // a call exists and is not idle
  bool call_active = false;  // dialling or connected
};

std::int32_t FillDevCaps(std::uint32_t device_id, const ModemLineConfig& config, Record& caps);
std::int32_t FillAddressCaps(std::uint32_t device_id, const ModemLineConfig& config, Record& caps);
std::int32_t FillAddressStatus(const LineActivity& activity, Record& status);
std::int32_t FillLineDevStatus(const LineActivity& activity, Record& status);
std::int32_t FillTranslateCaps(Record& caps);
// A VARSTRING holding bytes in the given string format.
std::int32_t FillVarString(std::uint32_t format, std::string bytes, Record& var);

// The masks that the device's capabilities give.
std::uint32_t LineStatesOf();
std::uint32_t AddressStatesOf();

// A canonical address ("+33 (0) 0123") as the modem dials it from France: the
// same-country long-distance rule 0 + area code + number ("000123"), the local rule
// when there is no area code, and 00 + country + area code + number abroad. Text that
// is not canonical is dialled as it is. Nothing when the address is empty or
// malformed. Every provider, the simulated one too, translates with it.
struct Translation {
  std::string dialable;
  std::uint32_t dest_country = 0;
  std::uint32_t results = 0;  // LINETRANSLATERESULT_ flags
};
std::optional<Translation> TranslateAddress(std::string_view address);
std::int32_t FillTranslateOutput(const Translation& translation, Record& output);

}  // namespace korval::platform::hayes
