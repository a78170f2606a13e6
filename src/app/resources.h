#pragma once
// The window resources: dialog templates, the about item's string.

#include <cstdint>

#include "platform/window_system.h"

namespace korval::app {

inline const platform::DialogResource kMainDialog{102, "VARDEX - Communication"};
inline const platform::DialogResource kAboutDialog{100, "A propos de Korval"};

inline constexpr const char* kAboutItemText = "&A propos de Korval...";
inline constexpr std::uint32_t kAboutCommandId = 0x0010;
inline constexpr const char* kAboutLines[] = {
    "Korval Communication",
    "\311changes de fichiers bancaires par TRANSPAC",
};

inline constexpr std::uint32_t kJobTimerId = 101;
inline constexpr std::uint32_t kJobTimerPeriodMs = 100;

}  // namespace korval::app
