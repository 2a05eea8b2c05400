// Stands in for a program the launcher starts (Wow.exe, also in the demo's client; UnRAR.exe):
// appends "<command line>|<current folder>" to <name>_ran.txt beside
// itself. With <name>_exit.txt there it exits with the code that file holds; otherwise it shows
// a small window until that is closed or <name>_quit.txt appears (which it then deletes).
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t exe[MAX_PATH] = {}, cwd[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring base = exe;
  base = base.substr(0, base.find_last_of(L'.'));  // C:\...\Wow

  std::string line;
  for (const wchar_t* p :
       {static_cast<const wchar_t*>(GetCommandLineW()), L"|", static_cast<const wchar_t*>(cwd), L"\r\n"}) {
    for (; *p; ++p) line += static_cast<char>(*p & 0xFF);
  }
  if (std::FILE* out = _wfopen((base + L"_ran.txt").c_str(), L"ab")) {
    std::fwrite(line.data(), 1, line.size(), out);  // one write: a reader never sees half a line
    std::fclose(out);
  }

  if (std::FILE* in = _wfopen((base + L"_exit.txt").c_str(), L"rb")) {
    int code = 0;
    if (std::fscanf(in, "%d", &code) != 1) code = 0;
    std::fclose(in);
    return code;
  }
  HWND window = CreateWindowExW(0, L"STATIC", L"Ostrelhold stand-in client: close this window to end the game",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE | SS_CENTER, 0, 880, 520, 120, nullptr, nullptr,
                                nullptr, nullptr);
  SetTimer(nullptr, 0, 100, nullptr);
  const std::wstring quit = base + L"_quit.txt";
  MSG msg;
  while (IsWindow(window) && GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && GetFileAttributesW(quit.c_str()) != INVALID_FILE_ATTRIBUTES) {
      DeleteFileW(quit.c_str());
      break;
    }
    DispatchMessageW(&msg);
  }
  return 0;
}
