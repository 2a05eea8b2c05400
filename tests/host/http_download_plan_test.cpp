#include "net/http_download_plan.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

std::string Narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

TEST(HttpDownloadPlan, ParsesHeaderValues) {
  EXPECT_EQ(RangeHeader(5368709120), L"Range: bytes=5368709120-");

  // Good values are read in the plans below.
  int64_t length = -7;
  for (const wchar_t* bad : {L"", L"-1", L"+5", L"12a", L"1 2", L"9223372036854775808"}) {
    EXPECT_FALSE(ParseContentLength(bad, length)) << Narrow(bad);
  }

  ContentRange range;
  for (const wchar_t* bad : {L"", L"bytes */1500", L"items 0-9/10", L"bytes 9-0/10", L"bytes 0-10/10", L"bytes 0-9"}) {
    EXPECT_FALSE(ParseContentRange(bad, range)) << Narrow(bad);
  }
}

TEST(HttpDownloadPlan, HowAReplyIsTaken) {
  const std::optional<std::wstring> none;
  struct Case {
    uint32_t status;
    int64_t offset;
    std::optional<std::wstring> length, range;
    DownloadStart expected;  // accepted, error, append, bytes_so_far, total, body_length
  };
  const Case cases[] = {
      {404, 0, L"10", none, {false, "HTTP 404", false, 0, -1, -1}},
      {416, 1000, L"10", none, {false, "HTTP 416", false, 0, -1, -1}},
      {200, 0, L" 4096 ", none, {true, "", false, 0, 4096, 4096}},
      {200, 0, L"lots", none, {true, "", false, 0, -1, -1}},
      // A whole-file reply to a range request rewrites the file from its start.
      {200, 1000, L"1500", none, {true, "", false, 0, 1500, 1500}},
      {206, 1000, L"500", L"bytes 1000-1499/1500", {true, "", true, 1000, 1500, 500}},
      {206, 1000, none, L"bytes 1000-1499/1500", {true, "", true, 1000, 1500, -1}},
      {206, 1000, none, L"bytes 1000-1499/*", {true, "", true, 1000, -1, -1}},
      // An absurd length must not overflow the total.
      {206, 1000, L"9223372036854775807", none, {true, "", true, 1000, INT64_MAX, INT64_MAX}},
      {206, 1000, L"1500", L"bytes 0-1499/1500", {false, "Server sent bytes from 0 instead of 1000", false, 0, -1, -1}},
      {206, 0, L"10", L"bytes 5-14/15", {false, "Server sent bytes from 5 instead of 0", false, 0, -1, -1}},
      {206, -3, L"10", L"bytes 0-9/10", {true, "", false, 0, 10, 10}},
  };
  for (const Case& c : cases) {
    const DownloadStart start = PlanDownload(c.status, c.offset, c.length, c.range);
    const std::string context = std::to_string(c.status) + " at " + std::to_string(c.offset) + " " +
                                (c.range ? Narrow(c.range->c_str()) : std::string("no range"));
    EXPECT_EQ(start.accepted, c.expected.accepted) << context;
    EXPECT_EQ(start.error, c.expected.error) << context;
    if (!start.accepted) continue;
    EXPECT_EQ(start.append, c.expected.append) << context;
    EXPECT_EQ(start.bytes_so_far, c.expected.bytes_so_far) << context;
    EXPECT_EQ(start.total, c.expected.total) << context;
    EXPECT_EQ(start.body_length, c.expected.body_length) << context;
  }
}

TEST(HttpDownloadPlan, BodyEndErrors) {
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, false), "");
  EXPECT_EQ(BodyEndError("Download", 0, 12345, -1, false), "");
  EXPECT_EQ(BodyEndError("Download", 1000, 200, 500, false), "Download incomplete: 1200 of 1500 bytes arrived");
  EXPECT_EQ(BodyEndError("Reply", 0, 70, -1, true), "Reply interrupted after 70 bytes");
  // A failed read is a failure even when every announced byte had already arrived.
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, true), "Download interrupted after 500 of 500 bytes");
}

}  // namespace
