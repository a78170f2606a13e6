#include "platform/posix/modem_port.h"

#include <poll.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_error_text.h"

namespace korval::platform::posix {
namespace {

thread_local std::uint32_t last_error = 0;

bool Fail(std::uint32_t code) {
  last_error = code;
  return false;
}

bool FailErrno(int error) { return Fail(Win32ErrorOf(error)); }

struct Message {
  std::uint32_t code;
  const char* text;
};

// The system's own wording, in French.
constexpr Message kMessages[] = {
    {0, "L'op\xE9ration a r\xE9ussi."},
    {kErrorInvalidFunction, "Fonction incorrecte."},
    {kErrorAccessDenied, "Acc\xE8s refus\xE9."},
    {kErrorInvalidHandle, "Descripteur non valide."},
    {kErrorNotEnoughMemory, "M\xE9moire insuffisante pour traiter cette commande."},
    {kErrorGenFailure,
     "Un p\xE9riph\xE9rique attach\xE9 au syst\xE8me ne fonctionne pas correctement."},
    {kErrorInvalidParameter, "Param\xE8tre incorrect."},
    {kErrorInsufficientBuffer,
     "La zone de donn\351es transmise \xE0 un appel syst\xE8me est insuffisante."},
    {kErrorOperationAborted, "L'op\xE9ration d'entr\351e/sortie a \xE9t\xE9 abandonn\351e."},
    {kErrorIoPending, "Op\xE9ration d'entr\351e/sortie en cours."},
    {kErrorIoDevice,
     "La demande n'a pas pu \xEAtre ex\351cut\351e \xE0 cause d'une erreur "
     "de p\xE9riph\xE9rique d'E/S."},
    {kErrorDeviceNotConnected, "Le p\xE9riph\xE9rique n'est pas connect\xE9."},
    {kErrorTimeout, "D\xE9lai d'attente d\xE9pass\xE9."},
};

}  // namespace

std::uint32_t Win32ErrorOf(int error) {
  switch (error) {
    case EBADF: return kErrorInvalidHandle;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case EINVAL: return kErrorInvalidParameter;
    case ENOTTY: return kErrorInvalidFunction;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EIO: return kErrorIoDevice;
    case ENXIO:
    case ENODEV: return kErrorDeviceNotConnected;
    case ETIMEDOUT: return kErrorTimeout;
    case EINTR:
    case ECANCELED: return kErrorOperationAborted;
    default: return kApplicationErrorBit | static_cast<std::uint32_t>(error);
  }
}

PortHandle ModemPorts::Open(std::shared_ptr<ModemDevice> device) {
  std::lock_guard lock(mutex_);
  // Handles are never reused: a stale one must not reach a later port.
  const PortHandle handle = next_handle_++;
  handles_.emplace(handle, std::move(device));
  return handle;
}

void ModemPorts::Forget(const ModemDevice* device) {
  std::lock_guard lock(mutex_);
  std::erase_if(handles_, [device](const auto& entry) {
    if (entry.second.get() != device) return false;
    // A read under way on the handle must not keep its loop waiting for the port.
    entry.second->CancelRead();
    return true;
  });
}

std::size_t ModemPorts::OpenHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

void ModemPorts::SetDialTimeout(std::uint32_t seconds) {
  std::lock_guard lock(mutex_);
  dial_timeout_s_ = seconds;
}

std::shared_ptr<ModemDevice> ModemPorts::Find(PortHandle port) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(port);
  if (it == handles_.end()) {
    last_error = kErrorInvalidHandle;
    return nullptr;
  }
  return it->second;
}

bool ModemPorts::GetCommProperties(PortHandle port, Record& properties) {
  const auto device = Find(port);
  if (!device) return false;
  if (!WriteCommProp(device->Port(), properties)) return Fail(kErrorInsufficientBuffer);
  return true;
}

bool ModemPorts::SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) {
  const auto device = Find(port);
  if (!device) return false;
  // The terminal driver's queues have fixed sizes; the request is only remembered.
  device->SetQueues(in_queue, out_queue);
  return true;
}

bool ModemPorts::GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) {
  const auto device = Find(port);
  if (!device) return false;
  const std::uint32_t room = std::min(*size, config.size());
  *size = kCommConfigNeededSize;
  if (room < kCommConfigNeededSize) return Fail(kErrorInsufficientBuffer);
  struct termios settings;
  if (!device->GetSettings(&settings)) return FailErrno(errno);
  ModemState modem;
  {
    std::lock_guard lock(mutex_);
    modem.dial_timeout_s = dial_timeout_s_;
  }
  modem.connect_rate = device->connect_rate();
  WriteCommConfig(settings, modem, config);
  return true;
}

bool ModemPorts::SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) {
  const auto device = Find(port);
  if (!device) return false;
  if (std::min(size, config.size()) < 8 + dcb::kSize) return Fail(kErrorInvalidParameter);
  struct termios settings;
  if (!device->GetSettings(&settings)) return FailErrno(errno);
  if (!ReadDcb(config, 8, settings)) return Fail(kErrorInvalidParameter);
  if (!device->SetSettings(settings)) return FailErrno(errno);
  return true;
}

bool ModemPorts::SetCommTimeouts(PortHandle port, const CommTimeouts&) {
  // Reads always take what is there after a short wait; writes have no time-out.
  return Find(port) != nullptr;
}

IoStatus ModemPorts::Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                          IoMode) {
  *got = 0;
  const auto device = Find(port);
  if (!device) {
    ::poll(nullptr, 0, kUnknownHandleWaitMs);
    return IoStatus::kFailed;
  }
  if (count == 0) return IoStatus::kDone;
  // Overlapped reads complete before they return too: nothing is left pending.
  int error = 0;
  const ssize_t read = device->ReadData(bytes, count, read_wait_ms_, &error);
  if (read < 0) {
    FailErrno(error);
    return IoStatus::kFailed;
  }
  *got = static_cast<std::size_t>(read);
  return IoStatus::kDone;
}

bool ModemPorts::CancelRead(PortHandle port) {
  const auto device = Find(port);
  if (!device) return false;
  // Every handle reads the one device: the cancel reaches the read whichever handle
  // it was given.
  device->CancelRead();
  return true;
}

bool ModemPorts::WaitRead(PortHandle port, std::size_t* got) {
  *got = 0;
  // Nothing is ever left pending.
  return Find(port) != nullptr;
}

IoStatus ModemPorts::Write(PortHandle port, const void* bytes, std::size_t count,
                           std::size_t* written, IoMode) {
  *written = 0;
  const auto device = Find(port);
  if (!device) return IoStatus::kFailed;
  int error = 0;
  if (!device->WriteAll(bytes, count, written, kWriteStallMs, -1, &error)) {
    FailErrno(error);
    return IoStatus::kFailed;
  }
  return IoStatus::kDone;
}

bool ModemPorts::WaitWrite(PortHandle port, std::size_t* written) {
  *written = 0;
  return Find(port) != nullptr;
}

bool ModemPorts::ClearCommError(PortHandle port) {
  // No error state is kept: each failure is reported by the call that met it.
  return Find(port) != nullptr;
}

bool ModemPorts::PurgeComm(PortHandle port, std::uint32_t flags) {
  const auto device = Find(port);
  if (!device) return false;
  constexpr std::uint32_t kPurgeTxClear = 0x4;
  bool ok = true;
  if (flags & kPurgeRxClear) {
    device->DropUnread();
    ok = device->Flush(TCIFLUSH);
  }
  if ((flags & kPurgeTxClear) && ok) ok = device->Flush(TCOFLUSH);
  return ok || FailErrno(errno);
}

bool ModemPorts::FlushFileBuffers(PortHandle port) {
  const auto device = Find(port);
  if (!device) return false;
  return device->Drain(kDrainBoundMs) || Fail(kErrorTimeout);
}

bool ModemPorts::SetCommBreak(PortHandle port) {
  const auto device = Find(port);
  if (!device) return false;
  return device->Break(true) || FailErrno(errno);
}

bool ModemPorts::ClearCommBreak(PortHandle port) {
  const auto device = Find(port);
  if (!device) return false;
  return device->Break(false) || FailErrno(errno);
}

bool ModemPorts::CloseHandle(PortHandle port) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(port);
  if (it == handles_.end()) return Fail(kErrorInvalidHandle);
  it->second->CancelRead();
  handles_.erase(it);
  return true;
}

std::uint32_t ModemPorts::LastError() { return last_error; }

std::string ModemPorts::SystemMessage(std::uint32_t code) {
  for (const Message& message : kMessages) {
    if (message.code == code) return message.text;
  }
  if (code & kApplicationErrorBit) {
    return std::string("Erreur syst\xE8me : ") +
           SystemErrorText(static_cast<int>(code & ~kApplicationErrorBit));
  }
  return "Erreur syst\xE8me " + std::to_string(code) + ".";
}

}  // namespace korval::platform::posix
