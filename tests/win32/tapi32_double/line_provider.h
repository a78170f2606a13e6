#pragma once
// The process's one line provider: one application at a time, its line devices from
// win.ini, one line open per device, one call per line. The records are filled by the
// same code as the Linux back-end's, into platform::Record copies of the caller's.
//
// Threads: every call takes the provider's lock; the call threads never do (they only
// post events), so a callback may call back in.

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dev_config.h"
#include "dial_call.h"
#include "event_window.h"
#include "platform/hayes/modem_records.h"
#include "provider_variant.h"

namespace korval::tapi_double {

using platform::Record;

class LineProvider {
 public:
  static LineProvider& Get();

  LONG Initialize(DWORD* app, HINSTANCE instance, LineCallbackFn callback, DWORD* count);
  LONG Shutdown(DWORD app);
  LONG Negotiate(DWORD app, DWORD device, DWORD low, DWORD high, DWORD* version);
  LONG GetDevCaps(DWORD app, DWORD device, DWORD version, DWORD ext_version, Record& caps);
  LONG GetAddressCaps(DWORD app, DWORD device, DWORD address, DWORD version, DWORD ext_version,
                      Record& caps);
  LONG GetTranslateCaps(DWORD app, DWORD version, Record& caps);
  LONG TranslateAddress(DWORD app, DWORD device, DWORD version, const std::string& address,
                        Record& output);
  LONG GetDevConfig(DWORD device, Record& config);
  LONG SetDevConfig(DWORD device, const std::string& block);
  LONG Open(DWORD app, DWORD device, DWORD* line, DWORD version, DWORD ext_version,
            DWORD_PTR instance, DWORD privileges, DWORD media_modes);
  LONG Close(DWORD line);
  LONG GetLineDevStatus(DWORD line, Record& status);
  LONG GetAddressStatus(DWORD line, DWORD address, Record& status);
  LONG SetStatusMessages(DWORD line, DWORD line_states, DWORD address_states);
  LONG GetPortId(DWORD line, DWORD address, DWORD call, DWORD select, Record& id);
  LONG MakeCall(DWORD line, DWORD* call, const std::string& dial, DWORD media_mode);
  LONG Drop(DWORD call);
  LONG Deallocate(DWORD call);

 private:
  struct Line {
    DWORD device = 0;
    HANDLE port = nullptr;
    HANDLE claim = nullptr;  // the device's name, held while the line is open
    std::shared_ptr<LineToken> token;
    DWORD address_states = 0;
  };
  struct Call {
    DWORD line = 0;
    std::unique_ptr<DialCall> dial;
  };

  bool AppValid(DWORD app) const { return events_ && app == app_; }
  bool DeviceValid(DWORD device) const { return device < devices_.size(); }
  LONG NextRequest();
  void Post(const std::shared_ptr<LineToken>& token, DWORD device, DWORD message, DWORD_PTR param1,
            DWORD_PTR param2 = 0, DWORD_PTR param3 = 0);
  platform::hayes::LineActivity ActivityOf(DWORD line) const;
  void CloseLine(std::map<DWORD, Line>::iterator line);
  DevConfig& ConfigOf(DWORD device);

  std::mutex mutex_;
  std::shared_ptr<EventWindow> events_;  // the application's, from lineInitialize
  DWORD app_ = 0;
  std::vector<platform::hayes::ModemLineConfig> devices_;
  ProviderVariant variant_;             // read at lineInitialize
  std::map<DWORD, DevConfig> configs_;  // the devices' configurations, once asked for
  std::map<DWORD, Line> lines_;
  std::map<DWORD, Call> calls_;
  DWORD next_handle_ = 0x100;
  LONG next_request_ = 1;
};

}  // namespace korval::tapi_double
