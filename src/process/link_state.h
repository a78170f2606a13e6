#pragma once
// The receive side's process-wide state, shared by the read thread and the main
// thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace korval::link {

struct ReceiveState {
  // ReceiveBusy: the exclusion flag of everything below that is not atomic.
  std::atomic_flag busy;
  // Converted text received since it was last emptied; under busy.
  std::string buffer;
  // Bytes of text appended since the process began, so a waiter can tell that
  // something arrived even after the buffer was trimmed; under busy.
  std::uint64_t received_total = 0;
  // The capture file; under busy (the read thread writes it, the main thread opens
  // and closes it).
  std::unique_ptr<platform::File> capture_file;
  // The statement's file, and the temporary file beside it that receives the
  // statement until it is complete; main thread only. Empty when there is none.
  std::string capture_target;
  std::string capture_path;
  // Set by the main thread between exchange steps, read by the read thread.
  std::atomic<bool> ebcdic{false};
  std::atomic<bool> capture_enabled{false};
  // Set by the read thread when the capture file did not take a piece: a statement
  // stored in part must not be acknowledged. Cleared when a capture file is opened.
  std::atomic<bool> capture_failed{false};
};

}  // namespace korval::link
