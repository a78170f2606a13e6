#include "platform/posix/log_output.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/text_encoding.h"

namespace korval::platform::posix {

LogOutput::LogOutput(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), fd_(out != nullptr ? ::fileno(out) : -1) {}

LogOutput::~LogOutput() { Flush(kFinalFlushMs); }

void LogOutput::Write(std::string_view text) {
  if (fd_ < 0 || gone_) {
    std::FILE* to = fd_ < 0 ? out_ : err_;
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
    return;
  }
  if (backlog_.size() + text.size() > kBacklogMax) {
    if (!dropped_said_) {
      std::fputs(Cp1252ToUtf8("korvalcom: sortie standard pleine, des lignes du journal "
                              "sont perdues\n")
                     .c_str(),
                 err_);
      dropped_said_ = true;
    }
  } else {
    backlog_ += text;
  }
  Flush(0);
}

void LogOutput::Flush(int wait_ms) {
  while (!backlog_.empty() && !gone_) {
    pollfd ready{fd_, POLLOUT, 0};
    const int polled = ::poll(&ready, 1, wait_ms);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return;  // full: the next line tries again
    if ((ready.revents & POLLOUT) == 0) {
      Gone();
      break;
    }
    // Up to PIPE_BUF goes whole into a pipe that has room, without blocking.
    const ssize_t written =
        ::write(fd_, backlog_.data(), std::min<std::size_t>(backlog_.size(), PIPE_BUF));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (written <= 0) {
      Gone();
      break;
    }
    backlog_.erase(0, static_cast<std::size_t>(written));
  }
  if (gone_ && !backlog_.empty()) {
    std::fwrite(backlog_.data(), 1, backlog_.size(), err_);
    std::fflush(err_);
    backlog_.clear();
  }
}

void LogOutput::Gone() {
  gone_ = true;
  std::fputs(Cp1252ToUtf8("korvalcom: sortie standard ferm\351e, le journal continue sur "
                          "la sortie d'erreur\n")
                 .c_str(),
             err_);
  std::fflush(err_);
}

}  // namespace korval::platform::posix
