// The entry points, with tapi.h's signatures: each checks the caller's pointers,
// copies a record in, lets the provider fill it and copies it back.

// windows.h first: the other Windows headers need its types.
#include <windows.h>

#include <tapi.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "line_provider.h"

// tapi.h names these after their ANSI versions; both names are exported.
#undef lineGetAddressCaps
#undef lineGetAddressStatus
#undef lineGetDevCaps
#undef lineGetTranslateCaps
#undef lineOpen

namespace {

using korval::platform::Record;
using korval::tapi_double::LineProvider;

// No record of the API comes near this; a larger dwTotalSize is read as this much.
constexpr DWORD kRecordMax = 1 << 20;

LONG Err(DWORD code) { return static_cast<LONG>(code); }

// The caller's record as a Record: its dwTotalSize bytes, given back whatever the
// provider wrote after dwTotalSize.
template <typename Fill>
LONG WithRecord(void* caller, Fill fill) {
  if (caller == nullptr) return Err(LINEERR_INVALPOINTER);
  DWORD total = 0;
  std::memcpy(&total, caller, sizeof total);
  if (total < 3 * sizeof(DWORD)) return Err(LINEERR_STRUCTURETOOSMALL);
  Record record(std::min(total, kRecordMax));
  std::memcpy(record.data(), caller, record.size());
  const LONG result = fill(record);
  std::memcpy(static_cast<char*>(caller) + sizeof total, record.data() + sizeof total,
              record.size() - sizeof total);
  return result;
}

std::string Text(LPCSTR text) { return text ? std::string(text) : std::string(); }

}  // namespace

extern "C" {

LONG WINAPI lineInitialize(LPHLINEAPP app, HINSTANCE instance, LINECALLBACK callback, LPCSTR,
                           LPDWORD count) {
  return LineProvider::Get().Initialize(app, instance, callback, count);
}

LONG WINAPI lineShutdown(HLINEAPP app) { return LineProvider::Get().Shutdown(app); }

LONG WINAPI lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high,
                                    LPDWORD version, LPLINEEXTENSIONID extension) {
  if (extension) *extension = LINEEXTENSIONID{};
  return LineProvider::Get().Negotiate(app, device, low, high, version);
}

LONG WINAPI lineGetDevCaps(HLINEAPP app, DWORD device, DWORD version, DWORD ext_version,
                           LPLINEDEVCAPS caps) {
  return WithRecord(caps, [&](Record& record) {
    return LineProvider::Get().GetDevCaps(app, device, version, ext_version, record);
  });
}

LONG WINAPI lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD version, DWORD ext_version,
                            LPLINEDEVCAPS caps) {
  return lineGetDevCaps(app, device, version, ext_version, caps);
}

LONG WINAPI lineGetAddressCaps(HLINEAPP app, DWORD device, DWORD address, DWORD version,
                               DWORD ext_version, LPLINEADDRESSCAPS caps) {
  return WithRecord(caps, [&](Record& record) {
    return LineProvider::Get().GetAddressCaps(app, device, address, version, ext_version, record);
  });
}

LONG WINAPI lineGetAddressCapsA(HLINEAPP app, DWORD device, DWORD address, DWORD version,
                                DWORD ext_version, LPLINEADDRESSCAPS caps) {
  return lineGetAddressCaps(app, device, address, version, ext_version, caps);
}

LONG WINAPI lineGetTranslateCaps(HLINEAPP app, DWORD version, LPLINETRANSLATECAPS caps) {
  return WithRecord(caps, [&](Record& record) {
    return LineProvider::Get().GetTranslateCaps(app, version, record);
  });
}

LONG WINAPI lineGetTranslateCapsA(HLINEAPP app, DWORD version, LPLINETRANSLATECAPS caps) {
  return lineGetTranslateCaps(app, version, caps);
}

LONG WINAPI lineTranslateAddress(HLINEAPP app, DWORD device, DWORD version, LPCSTR address, DWORD,
                                 DWORD, LPLINETRANSLATEOUTPUT output) {
  if (address == nullptr) return Err(LINEERR_INVALPOINTER);
  return WithRecord(output, [&](Record& record) {
    return LineProvider::Get().TranslateAddress(app, device, version, address, record);
  });
}

LONG WINAPI lineTranslateAddressA(HLINEAPP app, DWORD device, DWORD version, LPCSTR address,
                                  DWORD card, DWORD options, LPLINETRANSLATEOUTPUT output) {
  return lineTranslateAddress(app, device, version, address, card, options, output);
}

LONG WINAPI lineGetDevConfig(DWORD device, LPVARSTRING config, LPCSTR device_class) {
  if (lstrcmpiA(Text(device_class).c_str(), "comm/datamodem") != 0) {
    return Err(LINEERR_INVALDEVICECLASS);
  }
  return WithRecord(
      config, [&](Record& record) { return LineProvider::Get().GetDevConfig(device, record); });
}

LONG WINAPI lineGetDevConfigA(DWORD device, LPVARSTRING config, LPCSTR device_class) {
  return lineGetDevConfig(device, config, device_class);
}

LONG WINAPI lineSetDevConfig(DWORD device, LPVOID const config, DWORD size, LPCSTR device_class) {
  if (lstrcmpiA(Text(device_class).c_str(), "comm/datamodem") != 0) {
    return Err(LINEERR_INVALDEVICECLASS);
  }
  if (config == nullptr) return Err(LINEERR_INVALPOINTER);
  return LineProvider::Get().SetDevConfig(
      device, std::string(static_cast<const char*>(config), std::min(size, kRecordMax)));
}

LONG WINAPI lineSetDevConfigA(DWORD device, LPVOID const config, DWORD size, LPCSTR device_class) {
  return lineSetDevConfig(device, config, size, device_class);
}

LONG WINAPI lineOpen(HLINEAPP app, DWORD device, LPHLINE line, DWORD version, DWORD ext_version,
                     DWORD_PTR instance, DWORD privileges, DWORD media_modes,
                     LPLINECALLPARAMS const) {
  return LineProvider::Get().Open(app, device, line, version, ext_version, instance, privileges,
                                  media_modes);
}

LONG WINAPI lineOpenA(HLINEAPP app, DWORD device, LPHLINE line, DWORD version, DWORD ext_version,
                      DWORD_PTR instance, DWORD privileges, DWORD media_modes,
                      LPLINECALLPARAMS const params) {
  return lineOpen(app, device, line, version, ext_version, instance, privileges, media_modes,
                  params);
}

LONG WINAPI lineClose(HLINE line) { return LineProvider::Get().Close(line); }

LONG WINAPI lineGetIcon(DWORD, LPCSTR, LPHICON icon) {
  if (icon == nullptr) return Err(LINEERR_INVALPOINTER);
  // A shared system icon: the caller never destroys it.
  *icon = LoadIconA(nullptr, IDI_APPLICATION);
  return 0;
}

LONG WINAPI lineGetIconA(DWORD device, LPCSTR device_class, LPHICON icon) {
  return lineGetIcon(device, device_class, icon);
}

LONG WINAPI lineGetLineDevStatus(HLINE line, LPLINEDEVSTATUS status) {
  return WithRecord(
      status, [&](Record& record) { return LineProvider::Get().GetLineDevStatus(line, record); });
}

LONG WINAPI lineGetLineDevStatusA(HLINE line, LPLINEDEVSTATUS status) {
  return lineGetLineDevStatus(line, status);
}

LONG WINAPI lineGetAddressStatus(HLINE line, DWORD address, LPLINEADDRESSSTATUS status) {
  return WithRecord(status, [&](Record& record) {
    return LineProvider::Get().GetAddressStatus(line, address, record);
  });
}

LONG WINAPI lineGetAddressStatusA(HLINE line, DWORD address, LPLINEADDRESSSTATUS status) {
  return lineGetAddressStatus(line, address, status);
}

LONG WINAPI lineSetStatusMessages(HLINE line, DWORD line_states, DWORD address_states) {
  return LineProvider::Get().SetStatusMessages(line, line_states, address_states);
}

LONG WINAPI lineGetID(HLINE line, DWORD address, HCALL call, DWORD select, LPVARSTRING id,
                      LPCSTR device_class) {
  if (lstrcmpiA(Text(device_class).c_str(), "comm/datamodem") != 0) {
    return Err(LINEERR_INVALDEVICECLASS);
  }
  return WithRecord(id, [&](Record& record) {
    return LineProvider::Get().GetPortId(line, address, call, select, record);
  });
}

LONG WINAPI lineGetIDA(HLINE line, DWORD address, HCALL call, DWORD select, LPVARSTRING id,
                       LPCSTR device_class) {
  return lineGetID(line, address, call, select, id, device_class);
}

LONG WINAPI lineMakeCall(HLINE line, LPHCALL call, LPCSTR address, DWORD,
                         LPLINECALLPARAMS const params) {
  if (address == nullptr) return Err(LINEERR_INVALADDRESS);
  DWORD media_mode = 0;
  if (params != nullptr && params->dwTotalSize >= offsetof(LINECALLPARAMS, dwMediaMode) + 4) {
    media_mode = params->dwMediaMode;
  }
  return LineProvider::Get().MakeCall(line, call, address, media_mode);
}

LONG WINAPI lineMakeCallA(HLINE line, LPHCALL call, LPCSTR address, DWORD country,
                          LPLINECALLPARAMS const params) {
  return lineMakeCall(line, call, address, country, params);
}

LONG WINAPI lineDrop(HCALL call, LPCSTR, DWORD) { return LineProvider::Get().Drop(call); }

LONG WINAPI lineDeallocateCall(HCALL call) { return LineProvider::Get().Deallocate(call); }

}  // extern "C"
