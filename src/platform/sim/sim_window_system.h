#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/queued_window_system.h"
#include "platform/sim/sim_world.h"

namespace korval::platform::sim {

struct MessageBoxRecord {
  WindowHandle owner;
  std::string text;
  std::string title;
  std::uint32_t style;
  std::uint64_t at_ms;
  int answer;
};

class SimWindowSystem final : public QueuedWindowSystem {
 public:
  explicit SimWindowSystem(SimWorld& world) : QueuedWindowSystem(world), world_(world) {}

  int MessageBox(WindowHandle owner, const std::string& text, const std::string& title,
                 std::uint32_t style) override;

  // Answers for the next message boxes, in order; without one, a box is answered
  // with OK, or Cancel when it offers Retry and Cancel.
  void ScriptAnswers(std::vector<int> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
  }
  const std::vector<MessageBoxRecord>& MessageBoxes() const { return boxes_; }

  // User actions at a virtual time, on the last main window.
  void CloseAt(std::uint64_t at_ms);
  void SysCommandAt(std::uint64_t at_ms, std::uint32_t id, int dialog_id = 102);
  void KeyAt(std::uint64_t at_ms, DialogKey key, int dialog_id = 102);

  // A modal loop that runs past this much virtual time gives up, so a test that
  // would never end fails instead of hanging.
  void SetModalLimit(std::uint64_t limit_ms) { modal_limit_ms_ = limit_ms; }
  bool ModalAbandoned() const { return abandoned_; }
  // The longest virtual wait of one idle turn.
  void SetIdleStep(std::uint64_t step_ms) { idle_step_ms_ = step_ms; }

  // The lines of the last main window's list box.
  std::vector<std::string> LogLines() const;

  // Nothing is shown; the figures are kept for the tests, one entry per change of
  // the counts (the last one's elapsed time kept up to date).
  void ShowTransferProgress(const TransferProgress& progress) override {
    if (!status_line_open_ || progress_shown_.empty() ||
        progress_shown_.back().bytes != progress.bytes ||
        progress_shown_.back().records_done != progress.records_done) {
      progress_shown_.push_back(progress);
    }
    progress_shown_.back().elapsed_ms = progress.elapsed_ms;
    status_line_open_ = true;
  }
  void EndTransferProgress() override { status_line_open_ = false; }
  const std::vector<TransferProgress>& ProgressShown() const { return progress_shown_; }
  bool StatusLineOpen() const { return status_line_open_; }

 protected:
  void WaitIdle(std::optional<std::uint32_t> due_in_ms) override;
  bool AbandonModal() override;

 private:
  SimWorld& world_;
  std::deque<int> answers_;
  std::vector<MessageBoxRecord> boxes_;
  std::uint64_t modal_limit_ms_ = 6ull * 3600 * 1000;
  std::uint64_t idle_step_ms_ = 1;
  bool abandoned_ = false;
  std::vector<TransferProgress> progress_shown_;
  bool status_line_open_ = false;
};

}  // namespace korval::platform::sim
