// The platform-free half of the file check: digest text and the order of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/hex.h"
#include "net/file_digest.h"

// True when both are hex digests of the same length naming the same digest,
// whatever their letter case.
bool SameDigest(const std::string& a, const std::string& b);
// The same for MD5 digests: both exactly 32 hex digits.
bool SameMd5(const std::string& a, const std::string& b);

// Presence, then size (expected_size >= 1), then the digests (each when not
// empty), MD5 before SHA-256. `digest(md5, sha256)` is called at most once,
// asking only for the digests that decide, and only when they decide; when it
// gives nothing (the reading was stopped) so does this.
std::optional<FileCheckResult> DecideFileCheck(
    bool present, int64_t size, int64_t expected_size, const std::string& expected_md5,
    const std::string& expected_sha256, const std::function<std::optional<FileDigests>(bool md5, bool sha256)>& digest);
