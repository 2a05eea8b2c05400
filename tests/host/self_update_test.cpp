#include <gtest/gtest.h>

#include <string>

#include "net/update_server.h"
#include "update/self_update.h"

namespace {

TEST(SelfUpdateVersion, OnlyANewerServerVersionUpdates) {
  ASSERT_STREQ(kLauncherVersion, "1.0.0");
  struct Case {
    const char* server;
    bool updates;
  };
  for (const Case& c : {Case{"1.0.1", true}, Case{"1.10.0", true}, Case{"2.0.0", true}, Case{"1.0.0", false},
                        Case{"0.9.9", false}, Case{"2.0", false}, Case{"", false}, Case{"v1.0.1", false},
                        Case{"1.0.-1", false}, Case{"0.99.99", false}, Case{" 1.0.1", true}, Case{"1.0.1-beta", true},
                        Case{"1. 0. 1", true}, Case{"1 .0.1", false}, Case{"+1.0.1", true}, Case{"1..1", false}}) {
    EXPECT_EQ(IsNewerLauncherVersion(c.server, kLauncherVersion), c.updates) << '"' << c.server << '"';
  }
  // Numeric, not textual: 1.10.0 is past 1.9.9.
  EXPECT_TRUE(IsNewerLauncherVersion("1.10.0", "1.9.9"));
  EXPECT_FALSE(IsNewerLauncherVersion("1.9.9", "1.10.0"));
  // Signed numbers compare as such; an unreadable local version never updates.
  EXPECT_TRUE(IsNewerLauncherVersion("0.0.0", "-1.5.5"));
  EXPECT_FALSE(IsNewerLauncherVersion("9.9.9", "1.0"));
}

TEST(SelfUpdateVersion, ParsesLikeScanfAndRefusesOverflow) {
  const auto v = ParseLauncherVersion("\t12.-3.45 trailing");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->major, 12);
  EXPECT_EQ(v->minor, -3);
  EXPECT_EQ(v->patch, 45);

  const auto extremes = ParseLauncherVersion("2147483647.-2147483648.0");
  ASSERT_TRUE(extremes.has_value());
  EXPECT_EQ(extremes->major, 2147483647);
  EXPECT_EQ(extremes->minor, -2147483647 - 1);
  EXPECT_FALSE(ParseLauncherVersion("2147483648.0.0").has_value());
  EXPECT_FALSE(ParseLauncherVersion("1.0.99999999999999999999999").has_value());
  EXPECT_FALSE(ParseLauncherVersion("1.0.").has_value());
  EXPECT_FALSE(ParseLauncherVersion("1.0.+").has_value());
}

TEST(SelfUpdateScript, BytesAreExact) {
  EXPECT_EQ(SelfUpdateScript(),
            "@echo off\r\n"
            "ping 127.0.0.1 -n 3 > nul\r\n"
            "move /Y \"%~1\" \"%~2\"\r\n"
            "start \"\" \"%~2\"\r\n"
            "(goto) 2>nul & del \"%~f0\"\r\n");
}

TEST(SelfUpdatePaths, FilesLieBesideTheLauncherAndAreQuoted) {
  const SelfUpdatePaths paths =
      MakeSelfUpdatePaths(L"C:\\Program Files\\Ostrel Hold", L"C:\\Program Files\\Ostrel Hold\\OstrelLauncher.exe");
  EXPECT_EQ(paths.download, L"C:\\Program Files\\Ostrel Hold\\OstrelLauncher_update.exe");
  EXPECT_EQ(paths.script, L"C:\\Program Files\\Ostrel Hold\\launcher_update.bat");
  EXPECT_EQ(paths.executable, L"C:\\Program Files\\Ostrel Hold\\OstrelLauncher.exe");
  EXPECT_EQ(SelfUpdateCommandLine(paths),
            L"\"C:\\Program Files\\Ostrel Hold\\launcher_update.bat\" "
            L"\"C:\\Program Files\\Ostrel Hold\\OstrelLauncher_update.exe\" "
            L"\"C:\\Program Files\\Ostrel Hold\\OstrelLauncher.exe\"");
}

}  // namespace
