#include <windows.h>

#include <vector>

#include "base/file_replace_win.h"
#include "base/unique_handle_win.h"
#include "log/log.h"
#include "update/file_identity_win.h"
#include "update/launcher_swap.h"

namespace {

class SystemSwapCalls : public SwapSystem {
 public:
  std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t limit, bool& missing) override {
    return ReadWholeFile(path, limit, missing);
  }
  bool ReplaceSmallFile(const std::wstring& path, const std::string& bytes) override {
    return ReplaceFileContent(path, bytes);
  }
  bool Exists(const std::wstring& path) override { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::uint32_t Move(const std::wstring& from, const std::wstring& to) override {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                                     : GetLastError();
  }
  std::uint32_t Remove(const std::wstring& path) override { return DeleteFileW(path.c_str()) ? 0 : GetLastError(); }

  // The event is named after this process, so two launcher folders updating
  // at once never share one; it is made before the new build starts, so the
  // report cannot come too early to be seen.
  NewBuildWait StartAndWait(const std::wstring& program, const std::string& old_version, int seconds) override {
    const std::wstring event_name = L"Local\\OstrelLauncherUp." + std::to_wstring(GetCurrentProcessId());
    const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    if (!event.valid()) return {NewBuildWait::End::NotStarted, GetLastError()};
    const std::wstring command =
        L"\"" + program + L"\" " + HandOverArguments(old_version, event_name, GetCurrentProcessId());
    std::vector<wchar_t> command_buffer(command.begin(), command.end());
    command_buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    // Started suspended: both builds write the log under one lock from the
    // new build's first line on.
    if (!CreateProcessW(program.c_str(), command_buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &started)) {
      return {NewBuildWait::End::NotStarted, GetLastError()};
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    Log::ShareWith(started.dwProcessId);
    ResumeThread(thread.get());
    const HANDLE waits[] = {event.get(), process.get()};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(seconds) * 1000);
    if (woken == WAIT_OBJECT_0) return {NewBuildWait::End::Reported, 0};
    if (woken == WAIT_OBJECT_0 + 1) {
      DWORD code = 0;
      GetExitCodeProcess(process.get(), &code);
      return {NewBuildWait::End::Exited, code};
    }
    // Silent (or the wait failed): ended, and waited for, so its file is free again.
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    return {NewBuildWait::End::Silent, 0};
  }
};

}  // namespace

SwapSystem& SystemSwap() {
  static SystemSwapCalls calls;
  return calls;
}

bool ReportUp(const std::wstring& up_event) {
  const UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, up_event.c_str()));
  return event.valid() && SetEvent(event.get());
}
