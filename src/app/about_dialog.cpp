#include "app/about_dialog.h"

#include "app/resources.h"

namespace korval::app {

int AboutDialog::DoModal() { return windows_.RunModal(kAboutDialog, *this); }

bool AboutDialog::OnCreate(platform::WindowHandle window) {
  window_ = window;
  return true;
}

void AboutDialog::OnInitDialog() {
  for (const char* line : kAboutLines) windows_.ListAdd(window_, line);
}

void AboutDialog::OnSysCommand(std::uint32_t id) {
  if (id == platform::kScClose) windows_.EndDialog(window_, platform::kIdCancel);
}

void AboutDialog::OnDialogKey(platform::DialogKey key) {
  windows_.EndDialog(window_,
                     key == platform::DialogKey::kEnter ? platform::kIdOk : platform::kIdCancel);
}

}  // namespace korval::app
