#pragma once
// The telephony line's process-wide state.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/telephony_records.h"
#include "platform/threads.h"
#include "process/port_slot.h"

namespace korval {
struct Process;
}

namespace korval::line {

// Main thread only, unless said otherwise.
struct LineState {
  std::uint32_t app_handle = 0;
  std::uint32_t device_count = 0;
  std::uint32_t device_id = 0;
  std::uint32_t api_version = 0;
  std::uint32_t line_handle = 0;
  std::uint32_t address_id = 0;
  bool telephony_ready = false;
  bool line_open = false;
  // Opened when the device was chosen, to keep it from other jobs; OpenLine's set-up
  // is still to come.
  bool line_held = false;

  // Both threads: the read thread takes a handle and closes it in its end steps.
  PortSlot port;
  // Handles that a newer one replaced while they were open: closed once no read
  // thread can still be using them. Guarded by retired_mutex (both threads add).
  std::mutex retired_mutex;
  std::vector<platform::PortHandle> retired_ports;

  // The held records. PortProperties is read by the read thread, but only while a
  // call is up, and it is replaced only when the line is opened, before any call.
  std::optional<platform::Record> port_properties;
  std::optional<platform::Record> saved_device_config;
  std::optional<platform::Record> device_caps;
  std::optional<platform::Record> address_caps;
  std::optional<platform::Record> address_status;
  std::optional<platform::Record> translate_caps;
  std::optional<platform::Record> line_dev_status;
  std::optional<platform::Record> comm_config;
};

inline constexpr std::size_t kDialStringBytes = 52;  // terminating NUL included

// The call, its state and the read thread.
struct CallData {
  // Written by the main thread; the read thread reads it to obtain a port handle.
  std::atomic<std::uint32_t> call_handle{0};
  // The place handed to lineMakeCall: the provider may write the handle only when the
  // request completes, just before its LINE_REPLY, so it lives as long as the call.
  std::uint32_t made_call = 0;
  std::int32_t make_request = 0;  // the request awaiting its LINE_REPLY, 0 when none
  bool call_placed = false;       // from an accepted lineMakeCall to HangUp
  std::uint32_t call_state = 0;   // main thread: LINECALLSTATE value, 0 before any call
  // Written by the main thread, read by the read thread before every read.
  std::atomic<bool> link_active{false};
  std::unique_ptr<platform::Thread> read_thread;  // main thread
  // Set by the line with the thread it starts: a process that ends with the thread
  // still running stops it this way, as the line does. Main thread.
  void (*stop_read_thread)(Process& process) = nullptr;
  // Set by the read thread when the port has failed for too long, taken by the main
  // thread's OnPortLost.
  std::atomic<bool> port_lost{false};
  // A read thread that did not end within the stop's bound: it may still use the
  // process's state, so the process must end without tearing that down.
  bool read_thread_outlived = false;
  std::string dial_string;  // at most kDialStringBytes - 1

  // True once the line reported the call idle or disconnected. Main thread.
  bool ended() const {
    return call_state == platform::kCallStateIdle || call_state == platform::kCallStateDisconnected;
  }
};

}  // namespace korval::line
