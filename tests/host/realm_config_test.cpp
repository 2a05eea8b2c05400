#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/realm_config.h"
#include "net/update_server.h"

namespace {

// The six lines as the client must end up with them, CR LF each.
std::string SixLines() {
  return "SET realmList \"" + UpdateServerHost() +
         "\"\r\nSET realmName \"Ostrelhold\"\r\nSET locale \"enUS\"\r\nSET accounttype \"LK\"\r\n"
         "SET readTOS \"1\"\r\nSET readEULA \"1\"\r\n";
}

// Other lines keep their order and bytes (a NUL included), old values of the six
// keys go, every line ends in CR LF, and a second rewrite changes nothing.
TEST(RealmConfig, RewriteKeepsThePlayersLinesAndReplacesTheSix) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"SET gxResolution \"1920x1080\"\nSET realmList \"old.example.com\"\nSET SoundVolume \"0.5\"\n"
       "SET realmName \"Elsewhere\"\nSET locale \"deDE\"\nSET accounttype \"TBC\"\nSET readTOS \"0\"\n"
       "SET readEULA \"0\"\nSET MusicVolume \"0.2\"\n",
       "SET gxResolution \"1920x1080\"\r\nSET SoundVolume \"0.5\"\r\nSET MusicVolume \"0.2\"\r\n"},
      // A last line without a line end is kept; empty lines stay; only a CR right before LF is a line end.
      {"SET a \"1\"\r\n\r\nSET b \"2\"", "SET a \"1\"\r\n\r\nSET b \"2\"\r\n"},
      {"a\r\r\nb\rc\n", "a\r\r\nb\rc\r\n"},
      {std::string("x\0y\n", 4), std::string("x\0y\r\n", 5)},
  };
  for (const auto& [old_content, kept] : cases) {
    const std::string once = RewriteRealmConfig(old_content);
    EXPECT_EQ(once, kept + SixLines()) << old_content;
    EXPECT_EQ(RewriteRealmConfig(once), once) << old_content;
  }
}

TEST(RealmConfig, KeysMatchInAnyAsciiCaseAndAsPrefixes) {
  for (const std::string line :
       {"set REALMLIST \"x\"", "Set RealmName \"x\"", "SET LOCALE \"x\"", "sEt AcCoUnTtYpE \"x\"", "set readtos \"0\"",
        "SET READEULA \"0\"", "SET realmListbn \"x\"", "SET readEULA"}) {
    EXPECT_EQ(RewriteRealmConfig(line + "\r\n"), SixLines()) << line;
  }
  // Kept: blanks before SET, a different key, a line shorter than every prefix,
  // and a key whose name only resembles one of the six.
  for (const std::string line : {" SET realmList \"x\"", "\tSET locale \"x\"", "SET realm", "SET", "",
                                 "SET realm List \"x\"", "SET accountName \"x\"", "SETlocale \"x\""}) {
    EXPECT_FALSE(IsRealmKeyLine(line)) << line;
  }
  // Bytes above 0x7F are not folded like letters.
  EXPECT_FALSE(StartsWithIgnoringCase("\xC1", "\xE1"));
  EXPECT_TRUE(StartsWithIgnoringCase("\xC1xyz", "\xC1X"));
}

}  // namespace
