#include "platform/sim/sim_window_system.h"

#include <algorithm>

#include "platform/main_thread.h"

namespace korval::platform::sim {

int SimWindowSystem::MessageBox(WindowHandle owner, const std::string& text,
                                const std::string& title, std::uint32_t style) {
  ExpectMainThread("MessageBox");
  int answer = (style & kMbButtonMask) == kMbRetryCancel ? kIdCancel : kIdOk;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  boxes_.push_back({owner, text, title, style, world_.Now(), answer});
  return answer;
}

void SimWindowSystem::CloseAt(std::uint64_t at_ms) { SysCommandAt(at_ms, kScClose); }

void SimWindowSystem::SysCommandAt(std::uint64_t at_ms, std::uint32_t id, int dialog_id) {
  world_.At(at_ms, [this, id, dialog_id] { PostSysCommand(LastWindowOf(dialog_id), id); });
}

void SimWindowSystem::KeyAt(std::uint64_t at_ms, DialogKey key, int dialog_id) {
  world_.At(at_ms, [this, key, dialog_id] { PostDialogKey(LastWindowOf(dialog_id), key); });
}

std::vector<std::string> SimWindowSystem::LogLines() const {
  const WindowRecord* record = Window(LastWindowOf(102));
  return record ? record->list : std::vector<std::string>{};
}

void SimWindowSystem::WaitIdle(std::optional<std::uint32_t> due_in_ms) {
  std::uint64_t step = idle_step_ms_;
  if (due_in_ms) step = std::min<std::uint64_t>(step, std::max<std::uint32_t>(*due_in_ms, 1));
  world_.AdvanceIdle(step);
}

bool SimWindowSystem::AbandonModal() {
  if (world_.Now() > modal_limit_ms_) abandoned_ = true;
  return abandoned_;
}

}  // namespace korval::platform::sim
