#pragma once
// The telephony line device, as the line code calls it: the version-1.4 operations,
// synchronous, with variable-size records read through dwTotalSize/dwNeededSize.
//
// Results: 0 for success, a negative LINEERR_ code (as a 32-bit signed value) for a
// failure; lineMakeCall gives a positive request identifier when it has accepted the
// request, whose outcome arrives later as LINE_REPLY.
//
// Line events are delivered to the callback given to lineInitialize on the main
// thread, from inside WindowSystem::PumpMessage, never from inside these calls.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/telephony_records.h"
#include "platform/types.h"

namespace korval::platform {

using LineCallback =
    std::function<void(std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t param2, std::uintptr_t param3)>;

class Telephony {
 public:
  virtual ~Telephony() = default;

  virtual std::int32_t lineInitialize(std::uint32_t* app, InstanceHandle instance,
                                      LineCallback callback, const std::string& app_name,
                                      std::uint32_t* device_count) = 0;
  virtual std::int32_t lineShutdown(std::uint32_t app) = 0;
  virtual std::int32_t lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device,
                                               std::uint32_t low, std::uint32_t high,
                                               std::uint32_t* version) = 0;
  virtual std::int32_t lineGetDevCaps(std::uint32_t app, std::uint32_t device,
                                      std::uint32_t version, std::uint32_t ext_version,
                                      Record& caps) = 0;
  // A VARSTRING whose string part is the opaque configuration block.
  virtual std::int32_t lineGetDevConfig(std::uint32_t device, Record& config,
                                        const std::string& device_class) = 0;
  virtual std::int32_t lineSetDevConfig(std::uint32_t device, const std::string& block,
                                        const std::string& device_class) = 0;
  virtual std::int32_t lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                                std::uint32_t version, std::uint32_t ext_version,
                                std::uintptr_t callback_instance, std::uint32_t privileges,
                                std::uint32_t media_modes) = 0;
  virtual std::int32_t lineClose(std::uint32_t line) = 0;
  // True when the device has an icon (which then becomes the window class's icon).
  virtual bool lineGetIcon(std::uint32_t device) = 0;
  virtual std::int32_t lineGetAddressCaps(std::uint32_t app, std::uint32_t device,
                                          std::uint32_t address, std::uint32_t version,
                                          std::uint32_t ext_version, Record& caps) = 0;
  virtual std::int32_t lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                            Record& caps) = 0;
  virtual std::int32_t lineGetLineDevStatus(std::uint32_t line, Record& status) = 0;
  virtual std::int32_t lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                            Record& status) = 0;
  virtual std::int32_t lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                             std::uint32_t address_states) = 0;
  // With kDataModemClass: a VARSTRING whose string part begins with a new 32-bit
  // handle to the modem's port (which the caller must close), then the port's name.
  virtual std::int32_t lineGetID(std::uint32_t line, std::uint32_t address, std::uint32_t call,
                                 std::uint32_t select, Record& id,
                                 const std::string& device_class) = 0;
  virtual std::int32_t lineTranslateAddress(std::uint32_t app, std::uint32_t device,
                                            std::uint32_t version, const std::string& canonical,
                                            std::uint32_t card, std::uint32_t options,
                                            Record& output) = 0;
  virtual std::int32_t lineMakeCall(std::uint32_t line, std::uint32_t* call,
                                    const std::string& dial_string, std::uint32_t country,
                                    const Record& call_params) = 0;
  virtual std::int32_t lineDeallocateCall(std::uint32_t call) = 0;
  virtual std::int32_t lineDrop(std::uint32_t call, const std::string& user_data) = 0;
};

}  // namespace korval::platform
