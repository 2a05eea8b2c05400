#include "archive/hidden_process_win.h"

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
  // The tool writes into the client folder: it must end with the launcher, or
  // a launcher killed mid-unpack would meet it still writing when the next
  // start unpacks again. A job that kills its processes when its last handle
  // closes (ours, at the latest when the process ends) does that; where no
  // job can be had the tool runs without one.
  const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  const bool jobbed =
      job.valid() && SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) != 0;
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &info)) {
    Log::Error(L"Cannot start " + command_line + L": error " + std::to_wstring(GetLastError()));
    return std::nullopt;
  }
  // Closed in reverse order: the process handle first, then the thread's.
  const UniqueHandle thread(info.hThread);
  const UniqueHandle process(info.hProcess);
  if (jobbed && !AssignProcessToJobObject(job.get(), process.get())) {
    Log::Warn(L"The tool does not end with the launcher: AssignProcessToJobObject error " +
              std::to_wstring(GetLastError()));
  }
  ResumeThread(thread.get());
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = 1;  // a failed read counts as failure
  if (!GetExitCodeProcess(process.get(), &exit_code)) exit_code = 1;
  return static_cast<std::uint32_t>(exit_code);
}
