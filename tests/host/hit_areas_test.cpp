#include "ui/hit_areas.h"

#include <gtest/gtest.h>

namespace {

TEST(HitAreas, TitleButtonsClickAndHoverAreasDiffer) {
  EXPECT_EQ(ClickTargetAt(1250, 10, LauncherState::Ready), HoverTarget::Close);
  EXPECT_EQ(ClickTargetAt(1250, 3, LauncherState::Ready), HoverTarget::None);
  EXPECT_EQ(ClickTargetAt(1244, 10, LauncherState::Ready), HoverTarget::None);
  EXPECT_EQ(HoverTargetAt(1244, 10, LauncherState::Ready), HoverTarget::Close);
  EXPECT_EQ(ClickTargetAt(1240, 10, LauncherState::Ready), HoverTarget::Minimize);
  EXPECT_EQ(HoverTargetAt(1240, 10, LauncherState::Ready), HoverTarget::None);
  EXPECT_EQ(ClickTargetAt(1208, 5, LauncherState::Error), HoverTarget::Settings);
  EXPECT_EQ(ClickTargetAt(1160, 4, LauncherState::Error), HoverTarget::Mute);
}

TEST(HitAreas, BottomButtonsDependOnState) {
  EXPECT_EQ(ClickTargetAt(1000, 680, LauncherState::Ready), HoverTarget::Addons);
  EXPECT_EQ(ClickTargetAt(1000, 680, LauncherState::NoInstall), HoverTarget::Locate);
  EXPECT_EQ(ClickTargetAt(1000, 680, LauncherState::Connecting), HoverTarget::None);
  EXPECT_EQ(ClickTargetAt(1200, 690, LauncherState::NoInstall), HoverTarget::Download);
  EXPECT_EQ(ClickTargetAt(1200, 690, LauncherState::Verifying), HoverTarget::Play);
  EXPECT_EQ(ClickTargetAt(50, 640, LauncherState::Error), HoverTarget::Retry);
  EXPECT_EQ(ClickTargetAt(50, 640, LauncherState::Ready), HoverTarget::None);
}

TEST(HitAreas, CaptionStripSparesTheButtonCorner) {
  EXPECT_TRUE(IsCaptionPoint(600, 20));
  EXPECT_FALSE(IsCaptionPoint(600, 55));
  EXPECT_FALSE(IsCaptionPoint(1250, 3));
  EXPECT_TRUE(IsCaptionPoint(1250, 45));
  EXPECT_TRUE(IsCaptionPoint(1145, 10));
}

}  // namespace
