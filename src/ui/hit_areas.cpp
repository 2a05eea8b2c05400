#include "ui/hit_areas.h"

namespace {

struct Area {
  int left, top, right, bottom;
  bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

constexpr Area kCloseHover{1244, 4, 1271, 30}, kCloseClick{1245, 5, 1270, 30};
constexpr Area kMinimizeHover{1212, 4, 1239, 30}, kMinimizeClick{1215, 5, 1240, 30};
constexpr Area kSettingsHover{1180, 4, 1207, 30}, kSettingsClick{1180, 5, 1208, 30};
constexpr Area kMute{1148, 4, 1175, 30};
constexpr Area kLocate{965, 665, 1110, 707};
constexpr Area kPlay{1120, 665, 1265, 707};
constexpr Area kAddons{960, 670, 1060, 704};
constexpr Area kRetry{10, 625, 140, 653};

bool AddonsActive(LauncherState s) { return IsPlayable(s); }

HoverTarget PlayOrDownload(LauncherState s) {
  return s == LauncherState::NoInstall ? HoverTarget::Download : HoverTarget::Play;
}

}  // namespace

HoverTarget ClickTargetAt(int x, int y, LauncherState state) {
  if (kCloseClick.Contains(x, y)) return HoverTarget::Close;
  if (kMinimizeClick.Contains(x, y)) return HoverTarget::Minimize;
  if (kSettingsClick.Contains(x, y)) return HoverTarget::Settings;
  if (state == LauncherState::NoInstall && kLocate.Contains(x, y)) return HoverTarget::Locate;
  if (kPlay.Contains(x, y)) return PlayOrDownload(state);
  if (AddonsActive(state) && kAddons.Contains(x, y)) return HoverTarget::Addons;
  if (kMute.Contains(x, y)) return HoverTarget::Mute;
  if (state == LauncherState::Error && kRetry.Contains(x, y)) return HoverTarget::Retry;
  return HoverTarget::None;
}

HoverTarget HoverTargetAt(int x, int y, LauncherState state) {
  if (kCloseHover.Contains(x, y)) return HoverTarget::Close;
  if (kMinimizeHover.Contains(x, y)) return HoverTarget::Minimize;
  if (kSettingsHover.Contains(x, y)) return HoverTarget::Settings;
  if (kMute.Contains(x, y)) return HoverTarget::Mute;
  if (state == LauncherState::NoInstall && kLocate.Contains(x, y)) return HoverTarget::Locate;
  if (kPlay.Contains(x, y)) return PlayOrDownload(state);
  if (AddonsActive(state) && kAddons.Contains(x, y)) return HoverTarget::Addons;
  if (state == LauncherState::Error && kRetry.Contains(x, y)) return HoverTarget::Retry;
  return HoverTarget::None;
}

bool IsCaptionPoint(int x, int y) {
  if (x >= 1146 && y <= 40) return false;
  return y < 55;
}
