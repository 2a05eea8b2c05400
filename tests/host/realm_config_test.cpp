#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/realm_config.h"
#include "net/update_server.h"

namespace {

// The six lines as the client must end up with them, CR LF each.
std::string SixLines() {
  return "SET realmList \"" + UpdateServerHost() +
         "\"\r\n"
         "SET realmName \"Ostrelhold\"\r\n"
         "SET locale \"enUS\"\r\n"
         "SET accounttype \"LK\"\r\n"
         "SET readTOS \"1\"\r\n"
         "SET readEULA \"1\"\r\n";
}

TEST(RealmConfig, MissingFileGetsExactlyTheSixLines) {
  EXPECT_EQ(RewriteRealmConfig(""), SixLines());
  EXPECT_EQ(RealmConfigLines().size(), 6u);
}

TEST(RealmConfig, OtherSettingsKeepTheirOrderAndOldKeysGo) {
  const std::string old_content =
      "SET gxResolution \"1920x1080\"\n"
      "SET realmList \"old.example.com\"\n"
      "SET SoundVolume \"0.5\"\n"
      "SET realmName \"Elsewhere\"\n"
      "SET locale \"deDE\"\n"
      "SET accounttype \"TBC\"\n"
      "SET readTOS \"0\"\n"
      "SET readEULA \"0\"\n"
      "SET MusicVolume \"0.2\"\n";
  EXPECT_EQ(RewriteRealmConfig(old_content),
            "SET gxResolution \"1920x1080\"\r\n"
            "SET SoundVolume \"0.5\"\r\n"
            "SET MusicVolume \"0.2\"\r\n" +
                SixLines());
}

TEST(RealmConfig, KeysMatchInAnyCaseAndAsPrefixes) {
  for (const std::string line :
       {"set REALMLIST \"x\"", "Set RealmName \"x\"", "SET LOCALE \"x\"", "sEt AcCoUnTtYpE \"x\"", "set readtos \"0\"",
        "SET READEULA \"0\"", "SET realmListbn \"x\"", "SET readEULA"}) {
    EXPECT_TRUE(IsRealmKeyLine(line)) << line;
    EXPECT_EQ(RewriteRealmConfig(line + "\r\n"), SixLines()) << line;
  }
  // Kept: blanks before SET, a different key, a line shorter than every prefix,
  // and a key whose name only resembles one of the six.
  for (const std::string line : {" SET realmList \"x\"", "\tSET locale \"x\"", "SET realm", "SET", "",
                                 "SET realm List \"x\"", "SET accountName \"x\"", "SETlocale \"x\""}) {
    EXPECT_FALSE(IsRealmKeyLine(line)) << line;
  }
  EXPECT_EQ(RewriteRealmConfig(" SET realmList \"kept\"\n"), " SET realmList \"kept\"\r\n" + SixLines());
}

TEST(RealmConfig, CaseFoldingIsAsciiOnly) {
  EXPECT_TRUE(StartsWithIgnoringCase("SET ReAlMlIsT", "set realmlist"));
  EXPECT_FALSE(StartsWithIgnoringCase("abc", "abcd"));
  // Bytes above 0x7F are not folded into letters (0xC1 is not 'A' + 0x80 folded).
  EXPECT_FALSE(StartsWithIgnoringCase("\xC1", "\xE1"));
  EXPECT_TRUE(StartsWithIgnoringCase("\xC1xyz", "\xC1X"));
}

TEST(RealmConfig, LineEndsAreReadAsTheClientWritesThem) {
  EXPECT_EQ(SplitConfigLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitConfigLines("a\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitConfigLines("\n\n"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(SplitConfigLines(""), std::vector<std::string>{});
  // Only the CR right before LF belongs to the line end.
  EXPECT_EQ(SplitConfigLines("a\r\r\nb\rc\n"), (std::vector<std::string>{"a\r", "b\rc"}));

  // A last line without a line end is kept and gets one; empty lines stay;
  // a NUL byte inside a line is carried along.
  EXPECT_EQ(RewriteRealmConfig("SET a \"1\"\r\n\r\nSET b \"2\""), "SET a \"1\"\r\n\r\nSET b \"2\"\r\n" + SixLines());
  EXPECT_EQ(RewriteRealmConfig(std::string("x\0y\n", 4)), std::string("x\0y\r\n", 5) + SixLines());
}

TEST(RealmConfig, RewritingTwiceGivesTheSameFile) {
  const std::string once = RewriteRealmConfig("SET gxWindow \"1\"\nset realmlist \"a\"\nSET Gamma \"1.0\"");
  EXPECT_EQ(RewriteRealmConfig(once), once);
  EXPECT_EQ(once, "SET gxWindow \"1\"\r\nSET Gamma \"1.0\"\r\n" + SixLines());
}

}  // namespace
