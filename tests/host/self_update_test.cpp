#include <gtest/gtest.h>

#include <string>

#include "update/self_update.h"

namespace {

TEST(SelfUpdateVersion, OnlyANewerServerVersionUpdates) {
  // Read like sscanf("%d.%d.%d"): blanks before a number are skipped, trailing text ignored.
  for (const auto& [server, updates] :
       {std::make_pair("1.0.1", true), std::make_pair("1.10.0", true), std::make_pair("1.0.0", false),
        std::make_pair("0.99.99", false), std::make_pair("2.0", false), std::make_pair("", false),
        std::make_pair("v1.0.1", false), std::make_pair(" 1.0.1", true), std::make_pair("1.0.1-beta", true),
        std::make_pair("1 .0.1", false), std::make_pair("+1.0.1", true), std::make_pair("1..1", false)}) {
    EXPECT_EQ(IsNewerLauncherVersion(server, "1.0.0"), updates) << '"' << server << '"';
  }
  // Numeric, not textual; signed; an unreadable local version never updates.
  EXPECT_FALSE(IsNewerLauncherVersion("1.9.9", "1.10.0"));
  EXPECT_TRUE(IsNewerLauncherVersion("0.0.0", "-1.5.5"));
  EXPECT_FALSE(IsNewerLauncherVersion("9.9.9", "1.0"));
}

TEST(SelfUpdateVersion, NumbersThatDoNotFitAreRefused) {
  const auto extremes = ParseLauncherVersion("2147483647.-2147483648.0");
  ASSERT_TRUE(extremes.has_value());
  EXPECT_EQ(extremes->major, 2147483647);
  EXPECT_EQ(extremes->minor, -2147483647 - 1);
  for (const char* bad : {"2147483648.0.0", "1.0.99999999999999999999999", "1.0.", "1.0.+"}) {
    EXPECT_FALSE(ParseLauncherVersion(bad).has_value()) << bad;
  }
}

TEST(SelfUpdatePaths, FilesLieBesideTheLauncherAndAreQuoted) {
  const SelfUpdatePaths paths =
      MakeSelfUpdatePaths(L"C:\\Program Files\\Ostrel Hold", L"C:\\Program Files\\Ostrel Hold\\OstrelLauncher.exe");
  EXPECT_EQ(SelfUpdateCommandLine(paths),
            L"\"C:\\Program Files\\Ostrel Hold\\launcher_update.bat\" "
            L"\"C:\\Program Files\\Ostrel Hold\\OstrelLauncher_update.exe\" "
            L"\"C:\\Program Files\\Ostrel Hold\\OstrelLauncher.exe\"");
}

}  // namespace
