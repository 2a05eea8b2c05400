#include "ui/status_line.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusLine, TextsAndFractionsPerState) {
  UpdaterProgress p;
  p.file = "Data/patch-4.MPQ";
  p.index = 1;
  p.count = 4;
  StatusLine v = BuildStatusLine(LauncherState::Verifying, L"", p);
  EXPECT_EQ(v.text, L"Verifying: Data/patch-4.MPQ");
  EXPECT_FLOAT_EQ(v.fraction, 0.25f);

  p.phase = UpdaterPhase::Downloading;
  p.bytes_done = 512;
  p.bytes_total = 2048;
  p.speed = 1572864.0;
  p.seconds_left = 42;
  StatusLine d = BuildStatusLine(LauncherState::Updating, L"", p);
  EXPECT_EQ(d.text, L"Downloading: Data/patch-4.MPQ");
  EXPECT_FLOAT_EQ(d.fraction, 0.25f);
  EXPECT_EQ(d.detail, L"1.5 MB/s  42s");

  p.phase = UpdaterPhase::Extracting;
  EXPECT_FLOAT_EQ(BuildStatusLine(LauncherState::Updating, L"", p).fraction, 0.99f);
  EXPECT_EQ(BuildStatusLine(LauncherState::Error, L"", p).text, L"Error");
  EXPECT_EQ(BuildStatusLine(LauncherState::Error, L"Cannot reach update server.", p).text,
            L"Cannot reach update server.");
  EXPECT_EQ(BuildStatusLine(LauncherState::Offline, L"ignored", p).text, L"Offline mode");
  p.bytes_total = 0;
  p.phase = UpdaterPhase::Downloading;
  EXPECT_FLOAT_EQ(BuildStatusLine(LauncherState::Updating, L"", p).fraction, 0.0f);
}

}  // namespace
