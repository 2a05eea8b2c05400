#include "ui/media_foundation_win.h"

namespace {

// Casting through void(*)() says that the function's real type is known here.
template <class Function>
bool Find(HMODULE dll, const char* name, Function& function, std::wstring& error) {
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
  if (!function) error = L"no " + std::wstring(name, name + std::char_traits<char>::length(name));
  return function != nullptr;
}

HMODULE LoadSystemDll(const wchar_t* name, std::wstring& error) {
  // The system folder only: never a DLL of that name beside the launcher.
  HMODULE dll = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dll) error = std::wstring(name) + L" not loaded (error " + std::to_wstring(GetLastError()) + L")";
  return dll;
}

struct Loaded {
  MediaFoundation functions{};
  std::wstring error;
  bool ok = false;
};

Loaded Load() {
  Loaded result;
  MediaFoundation& f = result.functions;
  std::wstring& e = result.error;
  HMODULE plat = LoadSystemDll(L"mfplat.dll", e);
  HMODULE readwrite = plat ? LoadSystemDll(L"mfreadwrite.dll", e) : nullptr;
  result.ok = readwrite && Find(plat, "MFStartup", f.Startup, e) && Find(plat, "MFShutdown", f.Shutdown, e) &&
              Find(plat, "MFCreateAttributes", f.CreateAttributes, e) &&
              Find(plat, "MFCreateMediaType", f.CreateMediaType, e) &&
              Find(plat, "MFCreateSample", f.CreateSample, e) &&
              Find(plat, "MFCreateMemoryBuffer", f.CreateMemoryBuffer, e) &&
              Find(readwrite, "MFCreateSourceReaderFromURL", f.CreateSourceReaderFromURL, e);
  return result;
}

}  // namespace

const MediaFoundation* LoadMediaFoundation(std::wstring& error) {
  static const Loaded loaded = Load();
  if (!loaded.ok) error = loaded.error;
  return loaded.ok ? &loaded.functions : nullptr;
}
