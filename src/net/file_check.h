// The platform-free half of the file check: digest text and the order of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "net/file_digest.h"

// Lower-case hex, two digits per byte, high nibble first.
std::string HexDigest(const unsigned char* bytes, size_t count);

// True when both are 32 hex digits naming the same digest, whatever their letter case.
bool SameMd5(const std::string& a, const std::string& b);

// Presence, then size (expected_size >= 1), then digest (non-empty expected_md5).
// `file_md5` is called only when the digest decides.
FileCheckResult DecideFileCheck(bool present, int64_t size, int64_t expected_size, const std::string& expected_md5,
                                const std::function<std::string()>& file_md5);
