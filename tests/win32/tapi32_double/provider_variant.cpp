#include "provider_variant.h"

#include <tapi.h>

#include <cstdlib>
#include <string>

namespace korval::tapi_double {
namespace {

constexpr char kSection[] = "TAPI32";

std::string ReadKey(const char* key) {
  char value[64] = {};
  GetProfileStringA(kSection, key, "", value, sizeof value);
  return value;
}

// Decimal or 0x-prefixed hexadecimal; fallback when the key is absent or not a number.
DWORD ReadNumber(const char* key, DWORD fallback) {
  const std::string text = ReadKey(key);
  if (text.empty()) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  return end != nullptr && *end == '\0' ? static_cast<DWORD>(value) : fallback;
}

bool ReadFlag(const char* key, bool fallback) { return ReadNumber(key, fallback ? 1 : 0) != 0; }

PortLoss ReadPortLoss() {
  const std::string text = ReadKey("PortLost");
  if (lstrcmpiA(text.c_str(), "CLOSE") == 0) return PortLoss::kLineClose;
  if (lstrcmpiA(text.c_str(), "NONE") == 0) return PortLoss::kUnwatched;
  return PortLoss::kDisconnected;
}

}  // namespace

ProviderVariant ReadProviderVariant() {
  ProviderVariant variant;
  variant.owner_privilege = ReadFlag("Privilege", variant.owner_privilege);
  variant.handle_at_reply = ReadFlag("HandleAtReply", variant.handle_at_reply);
  variant.states_before_reply = ReadFlag("StatesBeforeReply", variant.states_before_reply);
  variant.connected_only = ReadFlag("ConnectedOnly", variant.connected_only);
  variant.reply_error = ReadNumber("ReplyError", 0);
  variant.port_loss = ReadPortLoss();
  variant.lost_mode = ReadNumber("DisconnectMode", variant.lost_mode);
  return variant;
}

}  // namespace korval::tapi_double
