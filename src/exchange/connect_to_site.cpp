#include "exchange/connect_to_site.h"

#include <optional>

#include "exchange/failure_box.h"
#include "exchange/parameter_card.h"
#include "exchange/pump.h"
#include "line/call_control.h"
#include "line/port_handle.h"
#include "link/time_limits.h"
#include "link/write_link.h"
#include "process/process.h"

namespace korval::exchange {
namespace {

constexpr std::uint32_t kConnectionWaitMs = 60'000;
constexpr std::uint32_t kProfilePauseMs = 500;
constexpr std::size_t kSiteSettingCapacity = 100;

struct SiteSettings {
  std::string complement;
  std::string nui;
};

SiteSettings ReadSiteSettings(Process& process, const std::string& subscriber) {
  if (subscriber.empty()) return {};
  platform::ProfileStore& profiles = process.os.profiles;
  return {profiles.ReadSystem(subscriber, "COMPLEMENT", kSiteSettingCapacity),
          profiles.ReadSystem(subscriber, "NUI", kSiteSettingCapacity)};
}

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// The PAD takes one command line: a carriage return inside a value would end it and
// start a second command.
std::optional<std::string> UnsafeSetting(const std::string& subscriber, const SiteSettings& site) {
  if (HasControlCharacter(subscriber)) return "NumeroAbonne";
  if (HasControlCharacter(site.nui)) return "NUI";
  if (HasControlCharacter(site.complement)) return "COMPLEMENT";
  return std::nullopt;
}

void ShowCommunicationBox(Process& process, const char* text, std::uint32_t icon) {
  ShowFailureBox(process, text, "Communication", platform::kMbOk | icon);
}

bool AwaitConnection(Process& process) {
  const std::uint32_t start = process.os.clock.TickCount();
  while (process.call.call_state != platform::kCallStateConnected) {
    process.os.windows.PumpMessageWithin(
        link::WaitLeftMs(start, kConnectionWaitMs, process.os.clock.TickCount()));
    if (line::CallEnded(process) || process.os.clock.TickCount() - start > kConnectionWaitMs) {
      return false;
    }
  }
  return true;
}

std::string CalledAddress(Process& process, const std::string& subscriber,
                          const std::string& complement) {
  if (complement.empty()) return subscriber;
  log::ProgressLog& log = process.log;
  log.LogProgress("Donn\351es compl\xE9mentaires :");
  log.LogProgress(complement);
  DispatchWaiting(process);
  std::string called = subscriber + "D" + complement;
  log.LogProgress("\n");
  log.LogProgress(called);
  log.LogProgress("\n");
  DispatchWaiting(process);
  return called;
}

void SendNui(Process& process, const std::string& nui) {
  if (nui.empty()) return;
  process.log.LogProgress("NUI : ");
  link::WriteLink(process, "N");
  DispatchWaiting(process);
  process.log.LogProgress(nui);
  link::WriteLink(process, nui);
  link::WriteLink(process, "-");
  DispatchWaiting(process);
  process.log.LogProgress("\n");
}

}  // namespace

int ConnectToSite(Process& process, platform::WindowHandle window, platform::InstanceHandle,
                  std::string& dial_number, const std::string& subscriber,
                  const std::string& card) {
  const SiteSettings site = ReadSiteSettings(process, subscriber);
  if (std::optional<std::string> key = UnsafeSetting(subscriber, site)) {
    process.log.LogProgress("Appel refus\xE9 : " + *key +
                            " contient un caract\xE8re de contr\xF4le !\n");
    return 0;
  }
  EmptyReceiveBuffer(process);
  if (line::PlaceCall(process, dial_number, window) == 0) return 0;
  if (!AwaitConnection(process)) {
    line::HangUp(process);
    ShowCommunicationBox(process, "Impossible de faire la connexion avec le site destinataire !",
                         platform::kMbIconInformation);
    DispatchWaiting(process);
    return 0;
  }
  if (line::GetPortHandle(process) != 0) {
    ShowFailureBox(process, "Erreur dans l'obtention du handle du modem pour le transfert", "",
                   platform::kMbOk);
    return 0;
  }
  if (AwaitAnswer(process, "TRANSPAC", "") == 0) {
    ShowCommunicationBox(process,
                         "Connexion avec TRANSPAC non r\xE9ussie !\nVeuillez reessayer plus tard !",
                         platform::kMbIconQuestion);
    return 0;
  }
  process.os.diagnostics.DebugOutput("J'envoi le profil !\n");
  EmptyReceiveBuffer(process);
  if (process.job.use_profile7) {
    link::WriteLink(process, "PROF7");
    link::WriteLink(process, "\r");
  }
  if (!PauseWhileCallUp(process, kProfilePauseMs)) {
    line::HangUp(process);
    line::ClosePort(process);
    return 0;
  }
  DispatchWaiting(process);

  const std::string called = CalledAddress(process, subscriber, site.complement);
  SendNui(process, site.nui);
  link::WriteLink(process, called);
  DispatchWaiting(process);
  link::WriteLink(process, "\r");

  if (AwaitAnswer(process, "COM", "") == 0) {
    ShowCommunicationBox(
        process,
        "Connexion avec le site abonn\xE9 impossible !\nVeuillez v\xE9rifier votre num\xE9ro !",
        platform::kMbIconQuestion);
    return 0;
  }
  process.log.LogProgress("Connexion avec site destinataire r\xE9ussie. \n");
  return SendParameterCard(process, card);
}

}  // namespace korval::exchange
