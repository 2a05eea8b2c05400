#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "test_util.h"

namespace {

TEST(Log, AppendsAcrossRunsAndKeepsWritingAfterWideCharacters) {
  testutil::TempDir dir;
  const auto path = dir / "launcher.log";
  testutil::WriteBytes(path, "earlier run\r\n");

  Log::Info(L"before init goes only to the debugger");
  Log::Init(path.wstring());
  Log::Info(L"one \u65e5 two");
  Log::Warn(L"after the wide line");  // a character the file cannot hold must not end the log

  // Many writers at once: every line arrives whole.
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
  EXPECT_NE(content.find("] [INFO] one ? two\r\n"), std::string::npos);
  EXPECT_NE(content.find("] [WARN] after the wide line\r\n"), std::string::npos);

  size_t lines = 0;
  std::regex line_re(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[ERROR\] thread \d line \d+)");
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = content.substr(start, end - start);
    if (line.find("[ERROR]") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, line_re)) << line;
      ++lines;
    }
  }
  EXPECT_EQ(lines, 200u);
  EXPECT_EQ(content.find('\n', 0) - 1, content.find('\r', 0));  // no bare line feeds
}

}  // namespace
