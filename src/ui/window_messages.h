// The launcher's own window messages (WM_APP is 0x8000). All parameters are 0
// except the lParam of WM_TRAY_ICON, which carries the tray event's mouse message.
#pragma once

constexpr unsigned WM_SERVER_STATUS = 0x8000 + 1;
constexpr unsigned WM_GAME_EXITED = 0x8000 + 3;
constexpr unsigned WM_NEWS_LOADED = 0x8000 + 4;
constexpr unsigned WM_TRAY_ICON = 0x8000 + 10;
