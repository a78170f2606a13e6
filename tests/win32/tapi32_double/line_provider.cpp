#include "line_provider.h"

#include <tapi.h>

#include <cstring>

#include "modem_lines.h"

namespace korval::tapi_double {
namespace {

namespace hayes = platform::hayes;

constexpr DWORD kApiVersion14 = 0x00010004;

LONG Err(DWORD code) { return static_cast<LONG>(code); }

// Dialling commands end at the first control character; ';' would leave the modem
// in command mode after dialling, which is no data call.
bool IsDialable(const std::string& dial) {
  if (dial.empty()) return false;
  for (const char c : dial) {
    if (static_cast<unsigned char>(c) < 0x20 || c == ';' || c == 0x7F) return false;
  }
  return true;
}

// A named object of the session for the modem's port; null when another process
// holds it already.
HANDLE ClaimModem(const std::string& port) {
  std::string name = "KorvalTapiDoubleModem.";
  for (const char c : port) name += (c == '\\' || c == ':') ? '_' : c;
  CharUpperA(name.data());
  HANDLE claim = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

}  // namespace

LineProvider& LineProvider::Get() {
  static LineProvider provider;
  return provider;
}

LONG LineProvider::NextRequest() {
  const LONG request = next_request_;
  next_request_ = next_request_ == 0x7FFFFFFF ? 1 : next_request_ + 1;
  return request;
}

void LineProvider::Post(const std::shared_ptr<LineToken>& token, DWORD device, DWORD message,
                        DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) {
  if (events_) events_->Post({token, device, message, param1, param2, param3});
}

LONG LineProvider::Initialize(DWORD* app, HINSTANCE instance, LineCallbackFn callback,
                              DWORD* count) {
  if (app == nullptr || count == nullptr || callback == nullptr) {
    return Err(LINEERR_INVALPOINTER);
  }
  std::lock_guard lock(mutex_);
  // One application at a time: the program initialises once per run.
  if (events_) return Err(LINEERR_OPERATIONFAILED);
  events_ = EventWindow::Create(instance, callback);
  if (!events_) return Err(LINEERR_NOMEM);
  devices_ = ReadModemLines();
  variant_ = ReadProviderVariant();
  configs_.clear();
  app_ = next_handle_++;
  *app = app_;
  *count = static_cast<DWORD>(devices_.size());
  return 0;
}

LONG LineProvider::Shutdown(DWORD app) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  while (!lines_.empty()) CloseLine(lines_.begin());
  events_->Close();
  events_.reset();
  app_ = 0;
  return 0;
}

void LineProvider::CloseLine(std::map<DWORD, Line>::iterator line) {
  line->second.token->open = false;
  for (auto call = calls_.begin(); call != calls_.end();) {
    if (call->second.line == line->first) {
      call->second.dial->Close();
      call = calls_.erase(call);
    } else {
      ++call;
    }
  }
  CloseHandle(line->second.port);
  CloseHandle(line->second.claim);
  lines_.erase(line);
}

LONG LineProvider::Negotiate(DWORD app, DWORD device, DWORD low, DWORD high, DWORD* version) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  if (low > kApiVersion14 || high < kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  if (version == nullptr) return Err(LINEERR_INVALPOINTER);
  *version = kApiVersion14;
  return 0;
}

LONG LineProvider::GetDevCaps(DWORD app, DWORD device, DWORD version, DWORD ext_version,
                              Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  if (version != kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  if (ext_version != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
  return hayes::FillDevCaps(device, devices_[device], caps);
}

LONG LineProvider::GetAddressCaps(DWORD app, DWORD device, DWORD address, DWORD version,
                                  DWORD ext_version, Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  if (address != 0) return Err(LINEERR_INVALADDRESSID);
  if (version != kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  if (ext_version != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
  return hayes::FillAddressCaps(device, devices_[device], caps);
}

LONG LineProvider::GetTranslateCaps(DWORD app, DWORD version, Record& caps) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (version != kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  return hayes::FillTranslateCaps(caps);
}

LONG LineProvider::TranslateAddress(DWORD app, DWORD device, DWORD version,
                                    const std::string& address, Record& output) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  if (version != kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  const std::optional<hayes::Translation> translation = hayes::TranslateAddress(address);
  if (!translation) return Err(LINEERR_INVALADDRESS);
  return hayes::FillTranslateOutput(*translation, output);
}

DevConfig& LineProvider::ConfigOf(DWORD device) {
  auto it = configs_.find(device);
  if (it == configs_.end()) {
    it = configs_.emplace(device, DefaultDevConfig(devices_[device].bps)).first;
  }
  return it->second;
}

LONG LineProvider::GetDevConfig(DWORD device, Record& config) {
  std::lock_guard lock(mutex_);
  if (!events_) return Err(LINEERR_UNINITIALIZED);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  DevConfig& held = ConfigOf(device);
  for (const auto& [handle, line] : lines_) {
    // An open port says what it is set to now.
    if (line.device == device) GetCommState(line.port, &held.dcb);
  }
  return hayes::FillVarString(hayes::kStringFormatBinary, SaveDevConfig(held), config);
}

LONG LineProvider::SetDevConfig(DWORD device, const std::string& block) {
  const std::optional<DevConfig> loaded = LoadDevConfig(block);
  if (!loaded) return Err(LINEERR_INVALPARAM);
  std::lock_guard lock(mutex_);
  if (!events_) return Err(LINEERR_UNINITIALIZED);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  DevConfig& held = ConfigOf(device);
  held = *loaded;
  for (const auto& [handle, line] : lines_) {
    if (line.device == device && !SetCommState(line.port, &held.dcb)) {
      return Err(LINEERR_OPERATIONFAILED);
    }
  }
  return 0;
}

LONG LineProvider::Open(DWORD app, DWORD device, DWORD* line, DWORD version, DWORD ext_version,
                        DWORD_PTR instance, DWORD privileges, DWORD media_modes) {
  std::lock_guard lock(mutex_);
  if (!AppValid(app)) return Err(LINEERR_INVALAPPHANDLE);
  if (!DeviceValid(device)) return Err(LINEERR_BADDEVICEID);
  if (line == nullptr) return Err(LINEERR_INVALPOINTER);
  if (version != kApiVersion14) return Err(LINEERR_INCOMPATIBLEAPIVERSION);
  if (ext_version != 0) return Err(LINEERR_INCOMPATIBLEEXTVERSION);
  const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (privileges == 0 || (privileges & ~known) != 0) return Err(LINEERR_INVALPRIVSELECT);
  if ((privileges & LINECALLPRIVILEGE_OWNER) && media_modes != LINEMEDIAMODE_DATAMODEM) {
    return Err(LINEERR_INVALMEDIAMODE);
  }
  for (const auto& [handle, open] : lines_) {
    if (open.device == device) return Err(LINEERR_RESOURCEUNAVAIL);
  }
  // One owner per modem across processes, as the system's single telephony service
  // keeps it: Wine lets a second process open a serial port that one has open.
  HANDLE claim = ClaimModem(devices_[device].port);
  if (claim == nullptr) return Err(LINEERR_RESOURCEUNAVAIL);
  HANDLE port = CommPort::OpenOverlapped(devices_[device].port);
  if (port == nullptr) {
    const DWORD error = GetLastError();
    CloseHandle(claim);
    return error == ERROR_FILE_NOT_FOUND ? Err(LINEERR_NODEVICE) : Err(LINEERR_RESOURCEUNAVAIL);
  }
  DCB dcb = ConfigOf(device).dcb;
  if (!CommPort::MakeModemSettings(port, dcb.BaudRate)) {
    CloseHandle(port);
    CloseHandle(claim);
    return Err(LINEERR_OPERATIONFAILED);
  }
  Line opened;
  opened.device = device;
  opened.port = port;
  opened.claim = claim;
  opened.token = std::make_shared<LineToken>();
  opened.token->instance = instance;
  *line = next_handle_++;
  lines_.emplace(*line, std::move(opened));
  return 0;
}

LONG LineProvider::Close(DWORD line) {
  std::lock_guard lock(mutex_);
  const auto it = lines_.find(line);
  if (it == lines_.end()) return Err(LINEERR_INVALLINEHANDLE);
  CloseLine(it);
  return 0;
}

hayes::LineActivity LineProvider::ActivityOf(DWORD line) const {
  hayes::LineActivity activity;
  activity.open = true;
  for (const auto& [handle, call] : calls_) {
    if (call.line != line) continue;
    const std::uint32_t state = call.dial->state();
    activity.call_in_use = state != LINECALLSTATE_IDLE;
    activity.call_active = !call.dial->finished() && state != LINECALLSTATE_IDLE &&
                           state != LINECALLSTATE_DISCONNECTED;
  }
  return activity;
}

LONG LineProvider::GetLineDevStatus(DWORD line, Record& status) {
  std::lock_guard lock(mutex_);
  if (lines_.count(line) == 0) return Err(LINEERR_INVALLINEHANDLE);
  return hayes::FillLineDevStatus(ActivityOf(line), status);
}

LONG LineProvider::GetAddressStatus(DWORD line, DWORD address, Record& status) {
  std::lock_guard lock(mutex_);
  if (lines_.count(line) == 0) return Err(LINEERR_INVALLINEHANDLE);
  if (address != 0) return Err(LINEERR_INVALADDRESSID);
  return hayes::FillAddressStatus(ActivityOf(line), status);
}

LONG LineProvider::SetStatusMessages(DWORD line, DWORD line_states, DWORD address_states) {
  std::lock_guard lock(mutex_);
  const auto it = lines_.find(line);
  if (it == lines_.end()) return Err(LINEERR_INVALLINEHANDLE);
  if (line_states & ~hayes::LineStatesOf()) return Err(LINEERR_INVALLINESTATE);
  if (address_states & ~hayes::AddressStatesOf()) return Err(LINEERR_INVALADDRESSSTATE);
  it->second.address_states = address_states;
  return 0;
}

LONG LineProvider::GetPortId(DWORD line, DWORD address, DWORD call, DWORD select, Record& id) {
  std::lock_guard lock(mutex_);
  DWORD line_handle = line;
  if (select == LINECALLSELECT_CALL) {
    const auto it = calls_.find(call);
    if (it == calls_.end()) return Err(LINEERR_INVALCALLHANDLE);
    line_handle = it->second.line;
  } else if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) {
    return Err(LINEERR_INVALCALLSELECT);
  }
  const auto it = lines_.find(line_handle);
  if (it == lines_.end()) return Err(LINEERR_INVALLINEHANDLE);
  if (select == LINECALLSELECT_ADDRESS && address != 0) return Err(LINEERR_INVALADDRESSID);

  // The handle, then the device's name, as a modem provider gives them.
  const std::string& name = devices_[it->second.device].port;
  std::string answer(sizeof(HANDLE) + name.size() + 1, '\0');
  const std::uint32_t room = std::min(id.TotalSize(), id.size());
  // A handle is made only when the answer fits: a record too small is asked again,
  // and the application closes each handle it was given.
  if (room >= sizeof(VARSTRING) + answer.size()) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), it->second.port, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      return Err(LINEERR_OPERATIONFAILED);
    }
    std::memcpy(answer.data(), &copy, sizeof copy);
    std::memcpy(answer.data() + sizeof copy, name.data(), name.size());
  }
  return hayes::FillVarString(hayes::kStringFormatBinary, std::move(answer), id);
}

LONG LineProvider::MakeCall(DWORD line, DWORD* call, const std::string& dial, DWORD media_mode) {
  std::lock_guard lock(mutex_);
  const auto it = lines_.find(line);
  if (it == lines_.end()) return Err(LINEERR_INVALLINEHANDLE);
  if (call == nullptr) return Err(LINEERR_INVALPOINTER);
  if (media_mode != 0 && media_mode != LINEMEDIAMODE_DATAMODEM) {
    return Err(LINEERR_INVALMEDIAMODE);
  }
  if (!IsDialable(dial)) return Err(LINEERR_INVALADDRESS);
  for (auto existing = calls_.begin(); existing != calls_.end(); ++existing) {
    if (existing->second.line != line) continue;
    if (!existing->second.dial->finished()) return Err(LINEERR_CALLUNAVAIL);
    // The modem carries one call: a finished one that was never released gives way.
    calls_.erase(existing);
    break;
  }

  const Line& owner = it->second;
  const DWORD handle = next_handle_++;
  const LONG request = NextRequest();
  const std::shared_ptr<EventWindow> events = events_;
  const std::shared_ptr<LineToken> token = owner.token;
  const ProviderVariant variant = variant_;
  // A provider that writes the handle late does it as the request's reply arrives.
  DWORD* const late_place = variant.handle_at_reply ? call : nullptr;
  DialReports reports;
  reports.reply = [events, token, late_place, handle, request](std::int32_t id,
                                                               std::int32_t result) {
    LineEvent reply{token,
                    0,
                    LINE_REPLY,
                    static_cast<DWORD_PTR>(id),
                    static_cast<DWORD_PTR>(static_cast<DWORD>(result)),
                    0};
    if (id == request && result == 0) {
      reply.handle_place = late_place;
      reply.handle = handle;
    }
    events->Post(std::move(reply));
  };
  auto first = std::make_shared<std::atomic<bool>>(variant.owner_privilege);
  reports.state = [events, token, handle, first](std::uint32_t state, std::uint32_t mode) {
    // The first state tells the application that it owns the call.
    const DWORD_PTR privilege = first->exchange(false) ? LINECALLPRIVILEGE_OWNER : 0;
    events->Post({token, handle, LINE_CALLSTATE, state, mode, privilege});
  };
  reports.line_close = [events, token, line]() {
    // The provider takes the line back: the event comes, and nothing after it.
    auto closing = std::make_shared<LineToken>();
    closing->instance = token->instance;
    events->Post({closing, line, LINE_CLOSE, 0, 0, 0});
    token->open = false;
  };
  DialTimings timings;
  timings.dial_timeout_ms = ConfigOf(owner.device).dial_timeout_s * 1000;
  const hayes::ModemLineConfig& config = devices_[owner.device];
  auto dialled = std::make_unique<DialCall>(owner.port, config.init, dial, timings,
                                            std::move(reports), variant);
  if (!dialled->Start(request)) return Err(LINEERR_RESOURCEUNAVAIL);
  calls_.emplace(handle, Call{line, std::move(dialled)});
  if (owner.address_states & LINEADDRESSSTATE_INUSEONE) {
    Post(owner.token, line, LINE_ADDRESSSTATE, 0, LINEADDRESSSTATE_INUSEONE);
  }
  if (!variant.handle_at_reply) *call = handle;
  return request;
}

LONG LineProvider::Drop(DWORD call) {
  std::lock_guard lock(mutex_);
  const auto it = calls_.find(call);
  if (it == calls_.end()) return Err(LINEERR_INVALCALLHANDLE);
  if (it->second.dial->state() == LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
  const LONG request = NextRequest();
  it->second.dial->Drop(request);
  return request;
}

LONG LineProvider::Deallocate(DWORD call) {
  std::lock_guard lock(mutex_);
  const auto it = calls_.find(call);
  if (it == calls_.end()) return Err(LINEERR_INVALCALLHANDLE);
  // Only a call that has gone idle may be released by its owner.
  if (it->second.dial->state() != LINECALLSTATE_IDLE) return Err(LINEERR_INVALCALLSTATE);
  const DWORD line = it->second.line;
  calls_.erase(it);
  if (const auto owner = lines_.find(line);
      owner != lines_.end() && (owner->second.address_states & LINEADDRESSSTATE_INUSEZERO)) {
    Post(owner->second.token, line, LINE_ADDRESSSTATE, 0, LINEADDRESSSTATE_INUSEZERO);
  }
  return 0;
}

}  // namespace korval::tapi_double
