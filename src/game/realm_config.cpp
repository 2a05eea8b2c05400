#include "game/realm_config.h"

#include "net/update_server.h"

namespace {

// The prefixes that drop a line. A longer key that merely starts with one of
// them goes too, which the client never writes anyway.
const char* const kRealmKeyPrefixes[] = {"SET realmList",   "SET realmName", "SET locale",
                                         "SET accounttype", "SET readTOS",   "SET readEULA"};

// ASCII only: bytes above 0x7F are compared as they are, whatever the locale.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string> SplitConfigLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    const bool has_line_end = end != std::string::npos;
    if (!has_line_end) end = content.size();
    size_t length = end - start;
    if (has_line_end && length > 0 && content[end - 1] == '\r') --length;
    lines.push_back(content.substr(start, length));
    start = has_line_end ? end + 1 : end;
  }
  return lines;
}

bool StartsWithIgnoringCase(const std::string& line, const std::string& prefix) {
  if (line.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (FoldAscii(line[i]) != FoldAscii(prefix[i])) return false;
  }
  return true;
}

bool IsRealmKeyLine(const std::string& line) {
  for (const char* prefix : kRealmKeyPrefixes) {
    if (StartsWithIgnoringCase(line, prefix)) return true;
  }
  return false;
}

std::vector<std::string> RealmConfigLines() {
  return {
      "SET realmList \"" + UpdateServerHost() + "\"",
      std::string("SET realmName \"") + kRealmName + "\"",
      "SET locale \"enUS\"",
      "SET accounttype \"LK\"",
      "SET readTOS \"1\"",
      "SET readEULA \"1\"",
  };
}

std::string RewriteRealmConfig(const std::string& old_content) {
  // The client reads CR LF files; writing them explicitly keeps the bytes the
  // same whichever way the file is opened.
  std::string out;
  out.reserve(old_content.size() + 160);
  for (const std::string& line : SplitConfigLines(old_content)) {
    if (IsRealmKeyLine(line)) continue;
    out += line;
    out += "\r\n";
  }
  for (const std::string& line : RealmConfigLines()) {
    out += line;
    out += "\r\n";
  }
  return out;
}
