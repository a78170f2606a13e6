#pragma once
// The telephony line devices of Windows, through tapi32's version-1.4 calls. The
// records are handed to the API as they are: they are laid out like its structures.
//
// Line events reach the callback from tapi32's hidden window of the thread that
// called lineInitialize, so they run inside that thread's message dispatching.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/telephony.h"

namespace korval::platform::win32 {

class Win32Telephony : public Telephony {
 public:
  Win32Telephony();
  ~Win32Telephony() override;
  Win32Telephony(const Win32Telephony&) = delete;
  Win32Telephony& operator=(const Win32Telephony&) = delete;

  std::int32_t lineInitialize(std::uint32_t* app, InstanceHandle instance, LineCallback callback,
                              const std::string& app_name, std::uint32_t* device_count) override;
  std::int32_t lineShutdown(std::uint32_t app) override;
  std::int32_t lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device, std::uint32_t low,
                                       std::uint32_t high, std::uint32_t* version) override;
  std::int32_t lineGetDevCaps(std::uint32_t app, std::uint32_t device, std::uint32_t version,
                              std::uint32_t ext_version, Record& caps) override;
  std::int32_t lineGetDevConfig(std::uint32_t device, Record& config,
                                const std::string& device_class) override;
  std::int32_t lineSetDevConfig(std::uint32_t device, const std::string& block,
                                const std::string& device_class) override;
  std::int32_t lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                        std::uint32_t version, std::uint32_t ext_version,
                        std::uintptr_t callback_instance, std::uint32_t privileges,
                        std::uint32_t media_modes) override;
  std::int32_t lineClose(std::uint32_t line) override;
  bool lineGetIcon(std::uint32_t device) override;
  std::int32_t lineGetAddressCaps(std::uint32_t app, std::uint32_t device, std::uint32_t address,
                                  std::uint32_t version, std::uint32_t ext_version,
                                  Record& caps) override;
  std::int32_t lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                    Record& caps) override;
  std::int32_t lineGetLineDevStatus(std::uint32_t line, Record& status) override;
  std::int32_t lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                    Record& status) override;
  std::int32_t lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                     std::uint32_t address_states) override;
  // On Win64 the port handle at the start of the "comm/datamodem" string is 8 bytes:
  // it is handed on as the 32-bit value the line code reads (handles are 32-bit
  // significant), followed by the port's name.
  std::int32_t lineGetID(std::uint32_t line, std::uint32_t address, std::uint32_t call,
                         std::uint32_t select, Record& id,
                         const std::string& device_class) override;
  std::int32_t lineTranslateAddress(std::uint32_t app, std::uint32_t device, std::uint32_t version,
                                    const std::string& canonical, std::uint32_t card,
                                    std::uint32_t options, Record& output) override;
  // *call gets what tapi32 wrote by the time the call returns (often nothing yet),
  // then the handle when the request completes, just before its LINE_REPLY reaches
  // the callback: the place must live until then, or until lineShutdown.
  std::int32_t lineMakeCall(std::uint32_t line, std::uint32_t* call, const std::string& dial_string,
                            std::uint32_t country, const Record& call_params) override;
  std::int32_t lineDeallocateCall(std::uint32_t call) override;
  std::int32_t lineDrop(std::uint32_t call, const std::string& user_data) override;

  // From the event trampoline, before the callback hears of the reply: a call request
  // that succeeded hands its handle on to the caller's place.
  void CompleteRequest(std::uintptr_t request, std::uintptr_t result);

 private:
  // tapi32 writes a call's handle when the request completes, after lineMakeCall has
  // returned: each request gets a slot that lives until lineShutdown.
  struct CallSlot;
  std::vector<std::unique_ptr<CallSlot>> call_slots_;  // main thread
  std::uint32_t app_ = 0;
};

}  // namespace korval::platform::win32
