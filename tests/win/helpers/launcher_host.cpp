// The launcher's window as OstrelLauncher.exe runs it, with the folder pickers answered from
// picker_answers.txt beside it (a folder per pick, in order; CANCEL or no line cancels). Each
// message box is appended to messages.txt beside it as "<caption>|<text>", then shown for real.
#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/launcher_folder.h"
#include "base/text.h"
#include "data/json.h"
#include "log/log.h"
#include "ui/gdiplus_win.h"
#include "ui/main_window_win.h"

namespace {

std::filesystem::path Beside(const wchar_t* name) { return LauncherPath(std::wstring(L"\\") + name); }

class ScriptedPrompts : public Prompts {
 public:
  std::optional<std::wstring> PickFolder(HWND, const std::wstring&, UINT) override {
    std::ifstream in(Beside(L"picker_answers.txt"));
    std::string answer;
    for (int i = 0; i <= picks_; ++i) {
      if (!std::getline(in, answer)) answer = "CANCEL";
    }
    ++picks_;
    while (!answer.empty() && answer.back() == '\r') answer.pop_back();
    if (answer == "CANCEL") return std::nullopt;
    return Widen(answer);
  }
  int Message(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override {
    std::ofstream(Beside(L"messages.txt"), std::ios::binary | std::ios::app)
        << NarrowLowBytes(caption + L"|" + text + L"\r\n");
    return SystemPrompts().Message(owner, text, caption, style);
  }

 private:
  int picks_ = 0;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  Log::Init(LauncherPath(L"\\launcher.log"));
  Log::Info(L"=== Launcher starting ===");
  JsonNull();
  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR gdiplus_token = 0;
  Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  static ScriptedPrompts prompts;
  MainWindow::Instance().prompts = &prompts;
  ExitProcess(static_cast<UINT>(MainWindow::Run(instance, show_command)));
}
