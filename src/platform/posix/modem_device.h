#pragma once
// One open modem port, shared by its line, the line's call and every port handle
// handed out for it. Safe to use from several threads at once.

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hayes/modem_hangup_text.h"
#include "platform/posix/modem_lock.h"
#include "platform/posix/modem_termios.h"
#include "platform/posix/wake_event.h"

namespace korval::platform::posix {

class ModemDevice {
 public:
  // Takes the port for this process alone (OpenPortExclusive); null when that fails,
  // with *result saying why.
  static std::shared_ptr<ModemDevice> Open(const std::string& path,
                                           const std::vector<std::string>& lock_folders,
                                           PortOpenResult* result);
  ~ModemDevice();
  ModemDevice(const ModemDevice&) = delete;
  ModemDevice& operator=(const ModemDevice&) = delete;

  const std::string& path() const { return path_; }
  // For poll(): a hang-up shows there as POLLHUP or POLLERR.
  int fd() const { return fd_; }

  // Gives the port back to other programs. The descriptor itself closes with the
  // last user, so that a read already under way never meets a reused descriptor.
  void Release();

  // Waits at most wait_ms for input, or until wake_fd (when not -1) is readable, and
  // reads at most count bytes. Returns the count; 0 when nothing came; -1 with
  // *error set (EIO once the line has hung up, which it notes).
  ssize_t ReadSome(void* bytes, std::size_t count, int wait_ms, int wake_fd, int* error);
  // ReadSome for the data stream of a call that is up: bytes the CONNECT brought
  // first, and the modem's "NO CARRIER" taken out of the stream as a hang-up. The
  // wait also ends at a CancelRead, and when held-back bytes are due to be handed out.
  ssize_t ReadData(void* bytes, std::size_t count, int wait_ms, int* error);
  // Any thread: the ReadData under way, or the next one, comes back at once.
  void CancelRead() { read_cancel_.Raise(); }
  // Writes every byte, waiting at most stall_ms at a time for the port to take more.
  // False with *error: EIO (hung up), ETIMEDOUT (the port took nothing for stall_ms),
  // ECANCELED (wake_fd became readable), or the system's error.
  bool WriteAll(const void* bytes, std::size_t count, std::size_t* written, int stall_ms,
                int wake_fd, int* error);
  // Waits at most bound_ms for the output queue to empty. True also when the port
  // cannot tell how much it still holds.
  bool Drain(int bound_ms);
  // Milliseconds since a byte was last written, on the steady clock.
  std::uint32_t QuietFor() const;

  // Before a call is dialled: carrier detect that reads low now follows the carrier
  // (a modem set to hold it high, or a cable without it, tells nothing), so while the
  // call is up it, not a "NO CARRIER" text the far end could send, says the call ended.
  void NoteCarrierBeforeCall();

  // Data bytes that came together with the modem's CONNECT: reads take them first.
  // A new call's data stream starts with them.
  void Unread(std::string_view bytes);
  std::size_t TakeUnread(void* bytes, std::size_t count);
  void DropUnread();

  // The far side hung up, the carrier was lost or the device went away. Ends a
  // ReadData under way.
  void NoteHangUp();
  bool hung_up() const { return hung_up_.load(); }
  // Readable once the line has hung up.
  int hangup_event() const { return hangup_event_; }

  // False with errno set on failure.
  bool GetSettings(struct termios* settings) const;
  bool SetSettings(const struct termios& settings);
  // Modem control lines (TIOCM_* bits): false when the port has none.
  bool GetLines(int* bits) const;
  bool ChangeLines(int bits, bool raise);
  bool Break(bool on);
  bool Flush(int queue_selector);

  void SetQueues(std::uint32_t in_queue, std::uint32_t out_queue);
  void SetConnectRate(std::uint32_t rate);
  PortState Port() const;
  std::uint32_t connect_rate() const { return connect_rate_.load(); }

 private:
  ModemDevice(std::string path, int fd, std::string lock_file);
  // Forgets what the data stream held back or had yet to hand out.
  void ResetDataStream();
  // ReadData's wait: wait_ms, or less when held-back bytes fall due sooner.
  int DataWaitMs(int wait_ms);

  const std::string path_;
  const int fd_;
  const std::string lock_file_;
  const int hangup_event_;
  const WakeEvent read_cancel_;
  std::atomic<bool> released_{false};
  std::atomic<bool> hung_up_{false};
  std::atomic<std::uint32_t> connect_rate_{0};
  std::atomic<std::int64_t> last_write_ms_{0};
  std::atomic<bool> dcd_follows_carrier_{false};

  mutable std::mutex mutex_;
  std::string unread_;           // guarded by mutex_
  std::uint32_t in_queue_ = 0;   // guarded by mutex_
  std::uint32_t out_queue_ = 0;  // guarded by mutex_

  // The data stream's reader (one thread at a time) and the connecting thread.
  std::mutex data_mutex_;
  hayes::ModemHangUpText hangup_text_;  // guarded by data_mutex_
  std::string filtered_;                // guarded by data_mutex_: read, not yet handed out
  std::string raw_;                     // guarded by data_mutex_: a read's bytes, kept for reuse
};

}  // namespace korval::platform::posix
