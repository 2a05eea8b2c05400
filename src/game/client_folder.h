// The names inside the game client folder that the launcher relies on.
#pragma once

#include <string>

namespace ClientFolder {

// Its presence is what makes a folder a client folder; it is also what PLAY starts.
constexpr const wchar_t* kExecutable = L"Wow.exe";
constexpr const wchar_t* kConfigFile = L"WTF\\Config.wtf";
constexpr const wchar_t* kAddonsFolder = L"Interface\\AddOns";
constexpr const wchar_t* kCacheFolder = L"Cache";

}  // namespace ClientFolder

// client folder + "\" + a relative name; forward slashes of manifest paths
// become backslashes. A folder that ends in a separator (a drive root) gets no second one.
std::wstring ClientPath(const std::wstring& client_dir, const std::wstring& relative);
