#include "platform/win32/win32_serial.h"

#include <windows.h>

#include "platform/hayes/modem_hangup_text.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korval::platform::win32 {

// Ports are used by several threads: every call on the handle holds `use` shared,
// and closing holds it alone, so that no call reaches a handle value after the close
// (the system may give it to another object at once).
struct Win32SerialPorts::PortState {
  struct Direction {
    std::mutex mutex;  // after `use`
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
    bool pending = false;
    std::size_t asked = 0;
    void* buffer = nullptr;  // the pending operation's
  };

  // The cancel event is auto-reset: a CancelRead that comes between two reads ends
  // the next one.
  explicit PortState(HANDLE port)
      : handle(port), cancel(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~PortState() {
    for (Direction* d : {&read, &write}) {
      if (d->event) ::CloseHandle(d->event);
    }
    if (cancel) ::CloseHandle(cancel);
  }

  // Pending I/O ends before its records go: the system would write into them. False
  // when a driver does not give an operation back within its bound: the records must
  // then outlive the handle.
  bool SettleWithUseHeldAlone() {
    bool settled = true;
    for (Direction* d : {&read, &write}) {
      std::lock_guard lock(d->mutex);
      if (!d->pending) continue;
      DWORD count = 0;
      DWORD error = 0;
      if (CancelAndCollect(*d, &count, &error)) {
        d->pending = false;
      } else if (error == ERROR_IO_INCOMPLETE) {
        settled = false;
      } else {
        d->pending = false;
      }
    }
    return settled;
  }

  // Cancels the direction's operation and takes its result, waiting kSettleBoundMs at
  // most for the driver to give it back. False with ERROR_IO_INCOMPLETE when it has
  // not: the operation is still the driver's, and so are its records.
  bool CancelAndCollect(Direction& d, DWORD* moved, DWORD* error) {
    CancelIoEx(handle, &d.overlapped);
    WaitForSingleObject(d.event, kSettleBoundMs);
    if (GetOverlappedResult(handle, &d.overlapped, moved, FALSE)) return true;
    *error = GetLastError();
    return false;
  }

  static constexpr DWORD kSettleBoundMs = 2000;

  const HANDLE handle;
  const HANDLE cancel;  // set by CancelRead; may be null, then reads end by their bound
  std::shared_mutex use;
  bool closed = false;  // guarded by use
  std::atomic<bool> reads_wait{false};
  Direction read;
  Direction write;
  // The modem's "NO CARRIER" after a drop is no data: the reads take it out of the
  // stream, as the Linux port does. Both guarded by read.mutex.
  hayes::ModemHangUpText hangup_text{hayes::HangUpTextHoldMs(0)};
  std::string ready;  // data that a read had no room for
};

namespace {

using PortState = Win32SerialPorts::PortState;
using Direction = PortState::Direction;

// Handles are 32-bit significant: the line code keeps the low half, which the
// system sign-extends.
HANDLE ToHandle(PortHandle port) {
  return reinterpret_cast<HANDLE>(
      static_cast<LONG_PTR>(static_cast<LONG>(static_cast<DWORD>(port))));
}

bool IsSerialPort(HANDLE handle) {
  COMMTIMEOUTS timeouts;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR && GetCommTimeouts(handle, &timeouts);
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

// The bytes the port has still to send.
bool OutputQueued(HANDLE handle, DWORD* queued) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(handle, &errors, &status)) return false;
  *queued = status.cbOutQue;
  return true;
}

// Runs call on the open handle; the error is set again once our locks are released.
template <typename Call>
bool OnOpenPort(PortState* state, Call call) {
  if (!state) return Fail(ERROR_INVALID_HANDLE);
  DWORD error = ERROR_INVALID_HANDLE;
  bool done = false;
  {
    std::shared_lock use(state->use);
    if (!state->closed) {
      done = call(state->handle);
      if (!done) error = GetLastError();
    }
  }
  return done || Fail(error);
}

// A fresh overlapped record with its event, for the next operation of a direction.
bool Prepare(Direction& d) {
  if (!d.event) d.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!d.event) return false;
  ResetEvent(d.event);
  d.overlapped = OVERLAPPED{};
  d.overlapped.hEvent = d.event;
  return true;
}

using Transfer = BOOL(WINAPI*)(HANDLE, void*, DWORD, DWORD*, OVERLAPPED*);

BOOL WINAPI ReadTransfer(HANDLE h, void* bytes, DWORD count, DWORD* done, OVERLAPPED* o) {
  return ReadFile(h, bytes, count, done, o);
}
BOOL WINAPI WriteTransfer(HANDLE h, void* bytes, DWORD count, DWORD* done, OVERLAPPED* o) {
  return WriteFile(h, bytes, count, done, o);
}

IoStatus Start(PortState& state, Direction& d, Transfer transfer, void* bytes, std::size_t count,
               std::size_t* done, DWORD* error) {
  std::shared_lock use(state.use);
  std::lock_guard lock(d.mutex);
  *error = ERROR_INVALID_HANDLE;
  if (state.closed) return IoStatus::kFailed;
  *error = ERROR_BUSY;  // the previous operation was never completed
  if (d.pending) return IoStatus::kFailed;
  if (!Prepare(d)) {
    *error = GetLastError();
    return IoStatus::kFailed;
  }
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
  DWORD moved = 0;
  if (transfer(state.handle, bytes, asked, &moved, &d.overlapped)) {
    *done = moved;
    return IoStatus::kDone;
  }
  *error = GetLastError();
  if (*error != ERROR_IO_PENDING) return IoStatus::kFailed;
  d.pending = true;
  d.asked = asked;
  d.buffer = bytes;
  return IoStatus::kPending;
}

// Hands out bytes * got just read, less the modem's hang-up text, with what an earlier
// read had no room for first.
void FilterRead(PortState& state, void* bytes, std::size_t capacity, std::size_t* got) {
  std::lock_guard lock(state.read.mutex);
  const auto* raw = static_cast<const char*>(bytes);
  state.ready += state.hangup_text.Feed(std::string_view(raw, *got), GetTickCount64()).data;
  *got = std::min(capacity, state.ready.size());
  std::memcpy(bytes, state.ready.data(), *got);
  state.ready.erase(0, *got);
}

// What was held back or left over, handed out as a read; false when there is none.
bool HandOutKept(PortState& state, void* bytes, std::size_t capacity, std::size_t* got,
                 bool finish) {
  std::lock_guard lock(state.read.mutex);
  if (finish) state.ready += state.hangup_text.Finish();
  if (state.ready.empty() || capacity == 0) return false;
  *got = std::min(capacity, state.ready.size());
  std::memcpy(bytes, state.ready.data(), *got);
  state.ready.erase(0, *got);
  return true;
}

// Waits for the pending operation up to bound_ms, or until stop (when not null) is
// set, then cancels it; what it moved is kept either way. A cancelled read is a read
// that found nothing.
bool Complete(PortState& state, Direction& d, DWORD bound_ms, bool cancel_is_success,
              std::size_t* done, HANDLE stop = nullptr) {
  HANDLE events[2] = {nullptr, stop};
  {
    std::lock_guard lock(d.mutex);
    if (!d.pending) return Fail(ERROR_INVALID_PARAMETER);
    events[0] = d.event;
  }
  const bool signalled =
      WaitForMultipleObjects(stop != nullptr ? 2 : 1, events, FALSE, bound_ms) == WAIT_OBJECT_0;
  DWORD moved = 0;
  DWORD error = ERROR_INVALID_HANDLE;
  bool ok = false;
  {
    std::shared_lock use(state.use);
    std::lock_guard lock(d.mutex);
    if (!state.closed && d.pending) {
      if (signalled) {
        ok = GetOverlappedResult(state.handle, &d.overlapped, &moved, FALSE);
        if (!ok) error = GetLastError();
      } else {
        ok = state.CancelAndCollect(d, &moved, &error);
      }
      if (!ok && !signalled) ok = cancel_is_success && error == ERROR_OPERATION_ABORTED;
      // A read whose time-out passed has taken what came: Wine says so with an error.
      if (!ok && signalled) ok = cancel_is_success && error == ERROR_TIMEOUT;
      // An operation the driver keeps stays pending: the direction refuses new ones
      // (ERROR_BUSY) rather than reuse records the driver may still write.
      d.pending = error == ERROR_IO_INCOMPLETE;
    }
  }
  *done = moved;
  return ok || Fail(error);
}

}  // namespace

namespace {

// A driver that never gave an operation back may still write into its records: they
// are kept for the rest of the process.
void KeepForTheDriver(std::shared_ptr<PortState> state) {
  static std::mutex kept_mutex;
  static auto* kept = new std::vector<std::shared_ptr<PortState>>();
  std::lock_guard lock(kept_mutex);
  kept->push_back(std::move(state));
}

}  // namespace

Win32SerialPorts::~Win32SerialPorts() {
  std::lock_guard lock(mutex_);
  for (auto& [key, state] : ports_) {
    std::unique_lock use(state->use);
    if (!state->SettleWithUseHeldAlone()) KeepForTheDriver(state);
  }
}

std::shared_ptr<PortState> Win32SerialPorts::Find(PortHandle port) {
  const HANDLE handle = ToHandle(port);
  const auto key = reinterpret_cast<PortHandle>(handle);
  std::lock_guard lock(mutex_);
  if (auto it = ports_.find(key); it != ports_.end()) return it->second;
  if (!IsSerialPort(handle)) return nullptr;
  return ports_.emplace(key, std::make_shared<PortState>(handle)).first->second;
}

bool Win32SerialPorts::GetCommProperties(PortHandle port, Record& properties) {
  // The system fills wPacketLength bytes: they must be there.
  const std::uint32_t room = properties.Get16(field::kPropPacketLength);
  if (properties.size() < sizeof(COMMPROP) || room > properties.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return OnOpenPort(Find(port).get(), [&](HANDLE h) {
    return ::GetCommProperties(h, reinterpret_cast<COMMPROP*>(properties.data())) != 0;
  });
}

bool Win32SerialPorts::SetupComm(PortHandle port, std::uint32_t in_queue, std::uint32_t out_queue) {
  return OnOpenPort(Find(port).get(),
                    [&](HANDLE h) { return ::SetupComm(h, in_queue, out_queue) != 0; });
}

bool Win32SerialPorts::GetCommConfig(PortHandle port, Record& config, std::uint32_t* size) {
  DWORD room = std::min(*size, config.size());
  const bool read = OnOpenPort(Find(port).get(), [&](HANDLE h) {
    return ::GetCommConfig(h, reinterpret_cast<COMMCONFIG*>(config.data()), &room) != 0;
  });
  const DWORD error = GetLastError();
  *size = room;
  SetLastError(error);
  return read;
}

bool Win32SerialPorts::SetCommConfig(PortHandle port, const Record& config, std::uint32_t size) {
  Record copy = config;  // the system's parameter is not const
  const DWORD used = std::min(size, copy.size());
  return OnOpenPort(Find(port).get(), [&](HANDLE h) {
    return ::SetCommConfig(h, reinterpret_cast<COMMCONFIG*>(copy.data()), used) != 0;
  });
}

bool Win32SerialPorts::SetCommTimeouts(PortHandle port, const CommTimeouts& timeouts) {
  COMMTIMEOUTS values{timeouts.read_interval, timeouts.read_total_multiplier,
                      timeouts.read_total_constant, timeouts.write_total_multiplier,
                      timeouts.write_total_constant};
  const bool takes_what_is_there = values.ReadIntervalTimeout == MAXDWORD &&
                                   values.ReadTotalTimeoutMultiplier == 0 &&
                                   values.ReadTotalTimeoutConstant == 0;
  if (takes_what_is_there) {
    // A read ends once the bytes stop coming for a moment, or after kReadWaitMs with
    // none. (MAXDWORD, MAXDWORD, n), which should end at the first byte, ends after
    // n under Wine, and (MAXDWORD, 0, 0) returns at once on Windows.
    values.ReadIntervalTimeout = kReadGapMs;
    values.ReadTotalTimeoutMultiplier = 0;
    values.ReadTotalTimeoutConstant = kReadWaitMs;
  }
  const auto state = Find(port);
  const bool set = OnOpenPort(state.get(), [&](HANDLE h) {
    if (!::SetCommTimeouts(h, &values)) return false;
    state->reads_wait = takes_what_is_there;
    return true;
  });
  return set;
}

IoStatus Win32SerialPorts::Read(PortHandle port, void* bytes, std::size_t count, std::size_t* got,
                                IoMode mode) {
  *got = 0;
  const auto state = Find(port);
  if (!state) {
    Fail(ERROR_INVALID_HANDLE);
    return IoStatus::kFailed;
  }
  if (HandOutKept(*state, bytes, count, got, false)) return IoStatus::kDone;
  DWORD error = 0;
  IoStatus status = Start(*state, state->read, ReadTransfer, bytes, count, got, &error);
  if (status == IoStatus::kPending && mode == IoMode::kPlain) {
    status = Complete(*state, state->read, kReadBoundMs, true, got, state->cancel)
                 ? IoStatus::kDone
                 : IoStatus::kFailed;
    if (status == IoStatus::kFailed) error = GetLastError();
  }
  if (status == IoStatus::kFailed) {
    // A port that went away gives what it held back, then fails.
    if (HandOutKept(*state, bytes, count, got, true)) return IoStatus::kDone;
    Fail(error);
  } else if (status == IoStatus::kDone) {
    FilterRead(*state, bytes, count, got);
    // Time-outs of someone else's that return at once: the reading loop must not spin.
    if (*got == 0 && count != 0 && !state->reads_wait) Sleep(kForeignReadPauseMs);
  }
  return status;
}

bool Win32SerialPorts::WaitRead(PortHandle port, std::size_t* got) {
  *got = 0;
  const auto state = Find(port);
  if (!state) return Fail(ERROR_INVALID_HANDLE);
  void* buffer = nullptr;
  std::size_t asked = 0;
  {
    std::lock_guard lock(state->read.mutex);
    buffer = state->read.buffer;
    asked = state->read.asked;
  }
  if (!Complete(*state, state->read, kReadBoundMs, true, got, state->cancel)) {
    const DWORD error = GetLastError();
    if (buffer != nullptr && HandOutKept(*state, buffer, asked, got, true)) return true;
    return Fail(error);
  }
  if (buffer != nullptr) FilterRead(*state, buffer, asked, got);
  return true;
}

bool Win32SerialPorts::CancelRead(PortHandle port) {
  const auto state = Find(port);
  return OnOpenPort(state.get(), [&state](HANDLE) {
    return state->cancel != nullptr && SetEvent(state->cancel) != 0;
  });
}

IoStatus Win32SerialPorts::Write(PortHandle port, const void* bytes, std::size_t count,
                                 std::size_t* written, IoMode mode) {
  *written = 0;
  const auto state = Find(port);
  if (!state) {
    Fail(ERROR_INVALID_HANDLE);
    return IoStatus::kFailed;
  }
  DWORD error = 0;
  const IoStatus status =
      Start(*state, state->write, WriteTransfer, const_cast<void*>(bytes), count, written, &error);
  if (status == IoStatus::kFailed) Fail(error);
  if (status == IoStatus::kPending && mode == IoMode::kPlain) {
    return WaitWrite(port, written) ? IoStatus::kDone : IoStatus::kFailed;
  }
  return status;
}

bool Win32SerialPorts::WaitWrite(PortHandle port, std::size_t* written) {
  *written = 0;
  const auto state = Find(port);
  if (!state) return Fail(ERROR_INVALID_HANDLE);
  std::size_t asked;
  {
    std::lock_guard lock(state->write.mutex);
    asked = state->write.asked;
  }
  const auto bound = static_cast<DWORD>(
      std::min<std::size_t>(kWriteBoundBaseMs + asked * kWriteBoundPerByteMs, MAXDWORD - 1));
  return Complete(*state, state->write, bound, false, written);
}

bool Win32SerialPorts::ClearCommError(PortHandle port) {
  return OnOpenPort(Find(port).get(), [](HANDLE h) {
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(h, &errors, &status) != 0;
  });
}

bool Win32SerialPorts::PurgeComm(PortHandle port, std::uint32_t flags) {
  return OnOpenPort(Find(port).get(), [&](HANDLE h) { return ::PurgeComm(h, flags) != 0; });
}

bool Win32SerialPorts::FlushFileBuffers(PortHandle port) {
  // The system's flush has no bound: a driver that never drains its queue would hold
  // the caller for ever. The queue is watched instead, for as long as its bytes need
  // at the slowest line speed.
  const auto state = Find(port);
  DWORD queued = 0;
  if (!OnOpenPort(state.get(), [&](HANDLE h) { return OutputQueued(h, &queued); })) {
    return false;
  }
  const DWORD bound = kFlushBoundBaseMs + queued * kWriteBoundPerByteMs;
  const DWORD start = GetTickCount();
  while (queued != 0) {
    if (GetTickCount() - start >= bound) return Fail(ERROR_TIMEOUT);
    Sleep(kFlushPollMs);
    if (!OnOpenPort(state.get(), [&](HANDLE h) { return OutputQueued(h, &queued); })) {
      return false;
    }
  }
  return true;
}

bool Win32SerialPorts::SetCommBreak(PortHandle port) {
  return OnOpenPort(Find(port).get(), [](HANDLE h) { return ::SetCommBreak(h) != 0; });
}

bool Win32SerialPorts::ClearCommBreak(PortHandle port) {
  return OnOpenPort(Find(port).get(), [](HANDLE h) { return ::ClearCommBreak(h) != 0; });
}

bool Win32SerialPorts::CloseHandle(PortHandle port) {
  const auto state = Find(port);
  if (!state) return Fail(ERROR_INVALID_HANDLE);
  {
    std::lock_guard lock(mutex_);
    ports_.erase(reinterpret_cast<PortHandle>(state->handle));
  }
  DWORD error = ERROR_INVALID_HANDLE;
  bool closed = false;
  {
    std::unique_lock use(state->use);
    if (!state->closed) {
      state->closed = true;
      if (!state->SettleWithUseHeldAlone()) KeepForTheDriver(state);
      closed = ::CloseHandle(state->handle) != 0;
      if (!closed) error = GetLastError();
    }
  }
  return closed || Fail(error);
}

std::uint32_t Win32SerialPorts::LastError() { return GetLastError(); }

std::string Win32SerialPorts::SystemMessage(std::uint32_t code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text ? text : "", text ? length : 0);
  if (text) LocalFree(text);
  return message;
}

}  // namespace korval::platform::win32
