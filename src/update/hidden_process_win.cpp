#include "update/hidden_process_win.h"

#include <windows.h>

#include <vector>

#include "base/unique_handle_win.h"
#include "log/log.h"

std::optional<std::uint32_t> RunHiddenAndWait(const std::wstring& command_line) {
  std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
  buffer.push_back(L'\0');  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    Log::Error(L"Cannot start " + command_line + L": error " + std::to_wstring(GetLastError()));
    return std::nullopt;
  }
  // Closed in reverse order: the process handle first, then the thread's.
  const UniqueHandle thread(info.hThread);
  const UniqueHandle process(info.hProcess);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = 1;  // a failed read counts as failure
  if (!GetExitCodeProcess(process.get(), &exit_code)) exit_code = 1;
  return static_cast<std::uint32_t>(exit_code);
}
