// Stands in for a launcher build in the self-update test: records which build
// it is and the path it was started from, then exits. The record appears
// whole (written aside, then moved into place) so a waiting test never reads
// half of it.
#include <windows.h>

#include <cstdio>
#include <string>

#ifndef FAKE_LAUNCHER_BUILD
#error FAKE_LAUNCHER_BUILD names the build ("old" or "new")
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder = exe;
  folder = folder.substr(0, folder.find_last_of(L'\\'));

  std::string record = FAKE_LAUNCHER_BUILD "\r\n";
  for (const wchar_t* p = exe; *p; ++p) record += static_cast<char>(*p & 0xFF);

  const std::wstring aside = folder + L"\\fake_launcher_ran.tmp";
  const std::wstring marker = folder + L"\\fake_launcher_ran.txt";
  std::FILE* out = _wfopen(aside.c_str(), L"wb");
  if (!out) return 1;
  const bool written = std::fwrite(record.data(), 1, record.size(), out) == record.size();
  if (std::fclose(out) != 0 || !written) return 1;
  return MoveFileExW(aside.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
