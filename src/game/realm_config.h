// Points the game client at the realm: six settings of WTF\Config.wtf are
// rewritten before every start of the game, every other line of the player's
// file is kept as it was.
#pragma once

#include <string>
#include <vector>

// Splits file content into lines: a line ends at LF, a CR right before it
// goes with it, a last line without a line end counts, and the empty rest
// after a final line end is no line.
std::vector<std::string> SplitConfigLines(const std::string& content);

// True when `line` begins with `prefix`, ASCII letters compared without regard
// to case. No trimming: leading blanks make a line not match.
bool StartsWithIgnoringCase(const std::string& line, const std::string& prefix);

// True for a line that sets one of the six keys the launcher owns
// (realmList, realmName, locale, accounttype, readTOS, readEULA).
bool IsRealmKeyLine(const std::string& line);

// The six lines the launcher writes, in order, without line ends.
std::vector<std::string> RealmConfigLines();

// The new file content for the old one (empty for a missing file): the kept
// lines in their order, then the six lines, every line ended by CR LF.
std::string RewriteRealmConfig(const std::string& old_content);

// Rewrites client_dir\WTF\Config.wtf through Config.wtf.tmp and a replacing
// move, creating the WTF folder if needed. On failure `error` says why
// ("Cannot read config" for a present file that cannot be read, "Cannot write
// temp config", "MoveFileEx failed: <code>") and the old Config.wtf is left as
// it was. Windows only.
bool WriteRealmConfig(const std::wstring& client_dir, std::string& error);
