// Turning a ZIP entry's stored name into a path below the destination folder,
// refusing every name that could land elsewhere or that Windows cannot hold.
#pragma once

#include <string>
#include <vector>

// Splits `name` at '/' and '\' into the folder and file names it stands for,
// leaving out empty and "." parts (so "./" gives no parts at all). Refused,
// with the reason in `error`: absolute names ("/x", "\x"), drive letters and
// stream names (any ':'), ".." parts, characters Windows forbids in file
// names, parts ending in a dot or a blank (Windows would silently drop them),
// and device names such as "CON" or "nul.txt". Names flagged as UTF-8 are
// decoded (invalid UTF-8 is refused); other bytes become one unit each.
bool ZipEntryPathParts(const std::string& name, bool utf8, std::vector<std::wstring>& parts, std::string& error);
