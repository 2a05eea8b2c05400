// Small files the launcher keeps beside its work (the record of verified
// files, the unpack marks): read whole, replaced whole.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

class SmallFiles {
 public:
  virtual ~SmallFiles() = default;

  // A whole file, cut after `limit` + 1 bytes; nothing with `missing` set when there is
  // none, nothing with it clear when it cannot be read.
  virtual std::optional<std::string> ReadSmallFile(const std::wstring& /*path*/, std::size_t /*limit*/, bool& missing) {
    missing = true;
    return std::nullopt;
  }
  // Replaces a file whole through a temporary file: old or new content after a crash.
  virtual bool ReplaceSmallFile(const std::wstring& /*path*/, const std::string& /*bytes*/) { return false; }
};
