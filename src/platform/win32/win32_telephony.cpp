#include "platform/win32/win32_telephony.h"

#include "platform/win32/win32_port_id.h"

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <tapi.h>

#include <mutex>

// tapi.h names these after their ANSI versions, which a version-1.4 client imports
// too; the class keeps the plain names.
#undef lineGetAddressCaps
#undef lineGetAddressStatus
#undef lineGetDevCaps
#undef lineGetTranslateCaps
#undef lineOpen

namespace korval::platform::win32 {

struct Win32Telephony::CallSlot {
  HCALL handle = 0;
  LONG request = 0;
  std::uint32_t* place = nullptr;  // the caller's, until the request completes
};

namespace {

// tapi32 calls back through a plain function with no context of its own, and one
// application is initialised at a time: the latest lineInitialize's callback.
std::mutex callback_mutex;
std::shared_ptr<const LineCallback> active_callback;
Win32Telephony* callback_owner = nullptr;

void CALLBACK Trampoline(DWORD device, DWORD message, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2, DWORD_PTR param3) {
  std::shared_ptr<const LineCallback> callback;
  Win32Telephony* owner = nullptr;
  {
    std::lock_guard lock(callback_mutex);
    callback = active_callback;
    owner = callback_owner;
  }
  // Events come on the thread that owns the telephony object, which outlives them.
  if (owner && message == LINE_REPLY) owner->CompleteRequest(param1, param2);
  if (callback && *callback) (*callback)(device, message, instance, param1, param2, param3);
}

void SetCallback(Win32Telephony* owner, std::shared_ptr<const LineCallback> callback) {
  std::lock_guard lock(callback_mutex);
  active_callback = std::move(callback);
  callback_owner = owner;
}

void ClearCallbackOf(const Win32Telephony* owner) {
  std::lock_guard lock(callback_mutex);
  if (callback_owner != owner) return;
  active_callback.reset();
  callback_owner = nullptr;
}

constexpr LONG kInvalPointer = static_cast<LONG>(LINEERR_INVALPOINTER);

// The API trusts dwTotalSize: it must not promise more room than the buffer has.
bool Fits(const Record& record) {
  return record.size() >= field::kUsedSize + 4 && record.TotalSize() <= record.size();
}

// A record is never answered with less than its fixed part: one that says it needs
// nothing was never written (Wine's stubs succeed that way), and is no answer.
LONG Filled(LONG result, const Record& record) {
  if (result == 0 && record.NeededSize() == 0) return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  return result;
}

template <typename Structure>
Structure* As(Record& record) {
  return reinterpret_cast<Structure*>(record.data());
}

// Bytes by which the port handle at the start of the string part exceeds 32 bits.
constexpr std::uint32_t kHandleExcess = sizeof(HANDLE) - sizeof(std::uint32_t);

bool IsDataModemClass(const std::string& device_class) {
  return lstrcmpiA(device_class.c_str(), kDataModemClass) == 0;
}

}  // namespace

Win32Telephony::Win32Telephony() = default;
Win32Telephony::~Win32Telephony() { ClearCallbackOf(this); }

std::int32_t Win32Telephony::lineInitialize(std::uint32_t* app, InstanceHandle instance,
                                            LineCallback callback, const std::string& app_name,
                                            std::uint32_t* device_count) {
  // Set before the call: the API may post events as soon as it has initialised.
  SetCallback(this, std::make_shared<const LineCallback>(std::move(callback)));
  HLINEAPP handle = 0;
  DWORD count = 0;  // Wine's lineInitialize leaves the count unset
  const LONG result = ::lineInitialize(&handle, reinterpret_cast<HINSTANCE>(instance), &Trampoline,
                                       app_name.c_str(), &count);
  if (result != 0) {
    ClearCallbackOf(this);
    count = 0;
  } else {
    app_ = handle;
  }
  if (app) *app = handle;
  if (device_count) *device_count = count;
  return result;
}

std::int32_t Win32Telephony::lineShutdown(std::uint32_t app) {
  const LONG result = ::lineShutdown(app);
  if (app == app_) {
    // No request of this application completes any more: its call slots are free.
    call_slots_.clear();
    ClearCallbackOf(this);
    app_ = 0;
  }
  return result;
}

std::int32_t Win32Telephony::lineNegotiateAPIVersion(std::uint32_t app, std::uint32_t device,
                                                     std::uint32_t low, std::uint32_t high,
                                                     std::uint32_t* version) {
  DWORD negotiated = 0;
  LINEEXTENSIONID extension{};
  const LONG result = ::lineNegotiateAPIVersion(app, device, low, high, &negotiated, &extension);
  if (version) *version = negotiated;
  return result;
}

std::int32_t Win32Telephony::lineGetDevCaps(std::uint32_t app, std::uint32_t device,
                                            std::uint32_t version, std::uint32_t ext_version,
                                            Record& caps) {
  if (!Fits(caps)) return kInvalPointer;
  return Filled(::lineGetDevCapsA(app, device, version, ext_version, As<LINEDEVCAPS>(caps)), caps);
}

std::int32_t Win32Telephony::lineGetDevConfig(std::uint32_t device, Record& config,
                                              const std::string& device_class) {
  if (!Fits(config)) return kInvalPointer;
  return Filled(::lineGetDevConfig(device, As<VARSTRING>(config), device_class.c_str()), config);
}

std::int32_t Win32Telephony::lineSetDevConfig(std::uint32_t device, const std::string& block,
                                              const std::string& device_class) {
  std::string copy = block;  // the API's parameter is not const
  return ::lineSetDevConfig(device, copy.data(), static_cast<DWORD>(copy.size()),
                            device_class.c_str());
}

std::int32_t Win32Telephony::lineOpen(std::uint32_t app, std::uint32_t device, std::uint32_t* line,
                                      std::uint32_t version, std::uint32_t ext_version,
                                      std::uintptr_t callback_instance, std::uint32_t privileges,
                                      std::uint32_t media_modes) {
  HLINE handle = 0;
  const LONG result = ::lineOpenA(app, device, &handle, version, ext_version, callback_instance,
                                  privileges, media_modes, nullptr);
  if (line) *line = handle;
  return result;
}

std::int32_t Win32Telephony::lineClose(std::uint32_t line) { return ::lineClose(line); }

bool Win32Telephony::lineGetIcon(std::uint32_t device) {
  HICON icon = nullptr;
  return ::lineGetIcon(device, nullptr, &icon) == 0 && icon != nullptr;
}

std::int32_t Win32Telephony::lineGetAddressCaps(std::uint32_t app, std::uint32_t device,
                                                std::uint32_t address, std::uint32_t version,
                                                std::uint32_t ext_version, Record& caps) {
  if (!Fits(caps)) return kInvalPointer;
  return Filled(
      ::lineGetAddressCapsA(app, device, address, version, ext_version, As<LINEADDRESSCAPS>(caps)),
      caps);
}

std::int32_t Win32Telephony::lineGetTranslateCaps(std::uint32_t app, std::uint32_t version,
                                                  Record& caps) {
  if (!Fits(caps)) return kInvalPointer;
  return Filled(::lineGetTranslateCapsA(app, version, As<LINETRANSLATECAPS>(caps)), caps);
}

std::int32_t Win32Telephony::lineGetLineDevStatus(std::uint32_t line, Record& status) {
  if (!Fits(status)) return kInvalPointer;
  return Filled(::lineGetLineDevStatus(line, As<LINEDEVSTATUS>(status)), status);
}

std::int32_t Win32Telephony::lineGetAddressStatus(std::uint32_t line, std::uint32_t address,
                                                  Record& status) {
  if (!Fits(status)) return kInvalPointer;
  return Filled(::lineGetAddressStatusA(line, address, As<LINEADDRESSSTATUS>(status)), status);
}

std::int32_t Win32Telephony::lineSetStatusMessages(std::uint32_t line, std::uint32_t line_states,
                                                   std::uint32_t address_states) {
  return ::lineSetStatusMessages(line, line_states, address_states);
}

std::int32_t Win32Telephony::lineGetID(std::uint32_t line, std::uint32_t address,
                                       std::uint32_t call, std::uint32_t select, Record& id,
                                       const std::string& device_class) {
  if (!Fits(id)) return kInvalPointer;
  if (kHandleExcess == 0 || !IsDataModemClass(device_class)) {
    return Filled(::lineGetID(line, address, call, select, As<VARSTRING>(id), device_class.c_str()),
                  id);
  }
  Record wide(id.TotalSize() + kHandleExcess);
  const LONG result =
      ::lineGetID(line, address, call, select, As<VARSTRING>(wide), device_class.c_str());
  if (result == 0) NarrowPortId(wide, id, sizeof(HANDLE));
  return Filled(result, wide);
}

std::int32_t Win32Telephony::lineTranslateAddress(std::uint32_t app, std::uint32_t device,
                                                  std::uint32_t version,
                                                  const std::string& canonical, std::uint32_t card,
                                                  std::uint32_t options, Record& output) {
  if (!Fits(output)) return kInvalPointer;
  return Filled(::lineTranslateAddress(app, device, version, canonical.c_str(), card, options,
                                       As<LINETRANSLATEOUTPUT>(output)),
                output);
}

std::int32_t Win32Telephony::lineMakeCall(std::uint32_t line, std::uint32_t* call,
                                          const std::string& dial_string, std::uint32_t country,
                                          const Record& call_params) {
  if (call_params.size() != 0 && !Fits(call_params)) return kInvalPointer;
  auto slot = std::make_unique<CallSlot>();
  Record params = call_params;  // the API's parameter is not const
  const LONG result = ::lineMakeCall(line, &slot->handle, dial_string.c_str(), country,
                                     params.size() != 0 ? As<LINECALLPARAMS>(params) : nullptr);
  if (call) *call = slot->handle;
  if (result > 0) {
    slot->request = result;
    slot->place = call;
    call_slots_.push_back(std::move(slot));
  }
  return result;
}

void Win32Telephony::CompleteRequest(std::uintptr_t request, std::uintptr_t result) {
  for (const std::unique_ptr<CallSlot>& slot : call_slots_) {
    if (slot->place == nullptr || static_cast<DWORD_PTR>(slot->request) != request) continue;
    if (static_cast<DWORD>(result) == 0) *slot->place = slot->handle;
    slot->place = nullptr;  // the request is over: the caller's place may go
  }
}

std::int32_t Win32Telephony::lineDeallocateCall(std::uint32_t call) {
  return ::lineDeallocateCall(call);
}

std::int32_t Win32Telephony::lineDrop(std::uint32_t call, const std::string& user_data) {
  return ::lineDrop(call, user_data.empty() ? nullptr : user_data.data(),
                    static_cast<DWORD>(user_data.size()));
}

}  // namespace korval::platform::win32
