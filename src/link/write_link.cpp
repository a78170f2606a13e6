#include "link/write_link.h"

#include "platform/main_thread.h"
#include "process/process.h"

namespace korval::link {
namespace {
constexpr const char* kWriteProblem = "Probl\xE8me dans l'\351criture des donn\351es !";
}  // namespace

std::size_t WriteLink(Process& process, const char* bytes, std::size_t count) {
  platform::ExpectMainThread("WriteLink");
  if (!process.call.link_active || count == 0) return 0;
  platform::SerialPorts& serial = process.os.serial;
  const platform::PortHandle port = process.line.port.handle();
  const bool overlapped = process.job.is_windows_nt;
  std::size_t written = 0;
  const platform::IoStatus status =
      serial.Write(port, bytes, count, &written,
                   overlapped ? platform::IoMode::kOverlapped : platform::IoMode::kPlain);
  bool failed = status == platform::IoStatus::kFailed;
  if (status == platform::IoStatus::kPending && !serial.WaitWrite(port, &written)) {
    failed = true;
  }
  if (failed) process.log.LogProgress(kWriteProblem);
  // The bytes must have left the port before the caller goes on (its pauses are
  // timed from here).
  if (overlapped) serial.FlushFileBuffers(port);
  return written;
}

}  // namespace korval::link
