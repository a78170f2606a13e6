#pragma once
#include "platform/window_system.h"

namespace korval::app {

// The about box: closes on its OK button, nothing else.
class AboutDialog final : public platform::DialogEvents {
 public:
  explicit AboutDialog(platform::WindowSystem& windows) : windows_(windows) {}
  int DoModal();

  bool OnCreate(platform::WindowHandle window) override;
  void OnInitDialog() override;
  void OnTimer(std::uint32_t) override {}
  void OnSysCommand(std::uint32_t id) override;
  void OnDialogKey(platform::DialogKey key) override;

 private:
  platform::WindowSystem& windows_;
  platform::WindowHandle window_ = platform::kNoWindow;
};

}  // namespace korval::app
