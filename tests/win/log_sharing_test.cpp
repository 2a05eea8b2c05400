// Two launcher processes appending to one log at the same time (the builds of a
// launcher update, handing over): no line of either may be lost.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "log/log.h"
#include "test_util.h"

namespace {

constexpr const wchar_t* kChildVariable = L"OSTREL_LOG_SHARING_CHILD";
constexpr int kChildLines = 2000;

int CountOf(const std::string& text, const std::string& line) {
  int count = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
  return count;
}

TEST(LogSharing, TwoProcessesKeepEveryLine) {
  wchar_t child_log[MAX_PATH] = {};
  if (GetEnvironmentVariableW(kChildVariable, child_log, MAX_PATH)) {  // this run is the other process
    Log::Init(child_log);
    Log::ShareWith(static_cast<std::uint32_t>(std::stoul(std::getenv("OSTREL_LOG_SHARING_PARENT"))));
    for (int i = 0; i < kChildLines; ++i) Log::Info(L"child " + std::to_wstring(i) + L".");
    return;
  }
  testutil::TempDir dir;
  const std::wstring log = dir.wide() + L"\\launcher.log";
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=LogSharing.*";
  SetEnvironmentVariableW(kChildVariable, log.c_str());
  SetEnvironmentVariableW(L"OSTREL_LOG_SHARING_PARENT", std::to_wstring(GetCurrentProcessId()).c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  const bool started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                      nullptr, &startup, &child);
  SetEnvironmentVariableW(kChildVariable, nullptr);
  ASSERT_TRUE(started);
  Log::Init(log);
  Log::ShareWith(child.dwProcessId);
  ResumeThread(child.hThread);
  int parent_lines = 0;
  while (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT)
    Log::Info(L"parent " + std::to_wstring(parent_lines++) + L".");
  Log::Info(L"parent " + std::to_wstring(parent_lines++) + L".");  // after the other has ended: no lock left to take
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  Log::Init(L"");  // closed, so the folder can go

  const std::string text = testutil::ReadBytes(log);
  int lost = 0;
  for (int i = 0; i < kChildLines; ++i) lost += CountOf(text, "child " + std::to_string(i) + ".\r\n") != 1;
  for (int i = 0; i < parent_lines; ++i) lost += CountOf(text, "parent " + std::to_string(i) + ".\r\n") != 1;
  EXPECT_EQ(lost, 0) << "of " << kChildLines << " + " << parent_lines << " lines";
}

}  // namespace
