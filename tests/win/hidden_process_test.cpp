#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"
#include "update/hidden_process_win.h"

namespace {

std::wstring SystemTool(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return L"\"" + std::wstring(folder, n) + L"\\" + name + L"\"";
}

TEST(RunHiddenAndWait, GivesTheExitCodeOnceTheProgramHasEnded) {
  EXPECT_EQ(RunHiddenAndWait(SystemTool(L"cmd.exe") + L" /c exit 7"), 7u);

  // It waits: the file the program writes is there when the call returns.
  testutil::TempDir dir;
  const auto marker = dir / "done.txt";
  EXPECT_EQ(RunHiddenAndWait(SystemTool(L"cmd.exe") + L" /c ping -n 2 127.0.0.1 >nul & echo done> \"" +
                             marker.wstring() + L"\""),
            0u);
  EXPECT_EQ(testutil::ReadBytes(marker), "done\r\n");

  EXPECT_FALSE(RunHiddenAndWait(SystemTool(L"no-such-tool.exe") + L" -xf a.zip").has_value());
}

}  // namespace
