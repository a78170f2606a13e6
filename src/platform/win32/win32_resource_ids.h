#pragma once
// Resource numbers shared by korvalcom.rc and the window system: plain macros, so
// that the resource compiler reads this file too.

#define IDD_KORVAL_ABOUT 100
#define IDS_KORVAL_ABOUT_ITEM 101
#define IDD_KORVAL_MAIN 102
#define IDI_KORVAL 131
#define IDC_KORVAL_LIST 1000

// The dialogs' own window class: it sees WM_CREATE, which a dialog procedure never does.
#define KORVAL_DIALOG_CLASS "KorvalDialog"
