// The program's entry: log, GDI+, COM, the main window, and the way out.
#include <objbase.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "base/launcher_folder.h"
#include "base/text.h"
#include "data/json.h"
#include "log/log.h"
#include "net/update_server.h"
#include "ui/gdiplus_win.h"
#include "ui/main_window_win.h"
#include "update/launcher_swap.h"

namespace {

constexpr const wchar_t* kCaption = L"Ostrel Launcher";

void ShowError(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), kCaption, MB_ICONERROR); }

// The program's arguments after its own name.
std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  for (int i = 1; words && i < count; ++i) arguments.emplace_back(words[i]);
  LocalFree(words);
  return arguments;
}

// Which build this is, what an update cut short left beside it (set right
// here), and whether an older build handed over to it and waits for its report.
void CheckLauncherFiles(MainWindow& window, const HandOver& hand_over) {
  if (!hand_over.updated_from.empty()) {
    Log::Info(L"Started by the launcher update from " + Widen(hand_over.updated_from));
  }
  window.launcher_files = SetRightLauncherFiles(SystemSwap(), LauncherFolder(), ExecutablePath(), kLauncherVersion,
                                                !hand_over.updated_from.empty());
  window.up_event = hand_over.up_event;
}

int RunLauncher(HINSTANCE instance, int show_command) {
  try {
    const HandOver hand_over = ParseHandOver(CommandLineArguments());
    Log::Init(LauncherPath(L"\\launcher.log"));
    if (hand_over.old_process != 0) Log::ShareWith(hand_over.old_process);
    Log::Info(L"=== Launcher starting ===");
    Log::Info(L"Launcher version " + Widen(kLauncherVersion));
    JsonNull();  // the shared null value exists before any worker starts
    CheckLauncherFiles(MainWindow::Instance(), hand_over);

    Log::Info(L"GDI+ init");
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    if (Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr) != Gdiplus::Ok) {
      Log::Error(L"GdiplusStartup failed");
      ShowError(L"GDI+ failed to initialize.");
      return 1;
    }

    Log::Info(L"COM init");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    Log::Info(L"Entering MainWindow::Run");
    const int exit_code = MainWindow::Run(instance, show_command);
    Log::Info(L"MainWindow::Run returned " + std::to_wstring(exit_code));

    CoUninitialize();
    Gdiplus::GdiplusShutdown(gdiplus_token);
    return exit_code;
  } catch (const std::exception& e) {
    Log::Error(L"UNHANDLED EXCEPTION: " + Widen(e.what()));
    ShowError(L"Crash: " + Widen(e.what()));
    return 1;
  } catch (...) {
    Log::Error(L"UNHANDLED UNKNOWN EXCEPTION");
    ShowError(L"Unknown crash in launcher startup.");
    return 1;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  const int exit_code = RunLauncher(instance, show_command);
  // Detached workers (manifest, news, updater...) may still be running and
  // hold references to the main window. ExitProcess stops them before any
  // static object is destroyed, so none of them can touch a dead object.
  // Every log line is already flushed.
  ExitProcess(static_cast<UINT>(exit_code));
}
