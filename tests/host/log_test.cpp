#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "log/log.h"
#include "test_util.h"

namespace {

// Appends across runs, keeps writing after a character the file cannot hold, and
// many writers at once each get their lines whole, CR LF ended.
TEST(Log, AppendsAcrossRunsAndKeepsWritingAfterWideCharacters) {
  testutil::TempDir dir;
  const auto path = dir / "launcher.log";
  testutil::WriteBytes(path, "earlier run\r\n");
  Log::Info(L"before init goes only to the debugger");
  Log::Init(path.wstring());
  Log::Info(L"one \u65e5 two");
  Log::Warn(L"after the wide line");
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 50; ++i) Log::Error(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i));
    });
  }
  for (auto& w : writers) w.join();

  const std::string content = testutil::ReadBytes(path);
  EXPECT_EQ(content.rfind("earlier run\r\n", 0), 0u);  // appended, not replaced
  EXPECT_EQ(content.find("before init"), std::string::npos);
  EXPECT_NE(content.find("] [INFO] one ? two\r\n["), std::string::npos);
  EXPECT_NE(content.find("] [WARN] after the wide line\r\n"), std::string::npos);
  const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[ERROR\] thread \d line \d+\r\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(content.begin(), content.end(), line), std::sregex_iterator()), 200);
  EXPECT_EQ(content.find('\n', 0) - 1, content.find('\r', 0));  // no bare line feeds
}

}  // namespace
