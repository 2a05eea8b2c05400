#include "net/http_download_plan.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

TEST(HttpDownloadPlan, RangeHeaderAsksFromOffsetToEnd) {
  EXPECT_EQ(RangeHeader(1000), L"Range: bytes=1000-");
  EXPECT_EQ(RangeHeader(5368709120), L"Range: bytes=5368709120-");
}

TEST(HttpDownloadPlan, ParsesHeaderValues) {
  int64_t length = -7;
  EXPECT_TRUE(ParseContentLength(L"0", length));
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(ParseContentLength(L" 1073741824 ", length));
  EXPECT_EQ(length, 1073741824);
  EXPECT_TRUE(ParseContentLength(L"9223372036854775807", length));
  for (const wchar_t* bad : {L"", L"-1", L"+5", L"12a", L"1 2", L"9223372036854775808"}) {
    EXPECT_FALSE(ParseContentLength(bad, length)) << std::string(bad, bad + std::wcslen(bad));
  }

  ContentRange range;
  ASSERT_TRUE(ParseContentRange(L"bytes 1000-1499/1500", range));
  EXPECT_EQ(range.first, 1000);
  EXPECT_EQ(range.last, 1499);
  EXPECT_EQ(range.complete, 1500);
  ASSERT_TRUE(ParseContentRange(L"bytes 0-9/*", range));
  EXPECT_EQ(range.complete, -1);
  for (const wchar_t* bad : {L"", L"bytes */1500", L"items 0-9/10", L"bytes 9-0/10", L"bytes 0-10/10", L"bytes 0-9"}) {
    EXPECT_FALSE(ParseContentRange(bad, range)) << std::string(bad, bad + std::wcslen(bad));
  }
}

TEST(HttpDownloadPlan, OnlyOkAndPartialRepliesAreTaken) {
  for (uint32_t status : {0u, 204u, 301u, 404u, 416u, 500u}) {
    const DownloadStart start = PlanDownload(status, 0, std::wstring(L"10"), std::nullopt);
    EXPECT_FALSE(start.accepted);
    EXPECT_EQ(start.error, "HTTP " + std::to_string(status));
  }
}

TEST(HttpDownloadPlan, FreshDownload) {
  const DownloadStart start = PlanDownload(200, 0, std::wstring(L"4096"), std::nullopt);
  EXPECT_TRUE(start.accepted);
  EXPECT_FALSE(start.append);
  EXPECT_EQ(start.bytes_so_far, 0);
  EXPECT_EQ(start.total, 4096);
  EXPECT_EQ(start.body_length, 4096);

  const DownloadStart unknown = PlanDownload(200, 0, std::nullopt, std::nullopt);
  EXPECT_TRUE(unknown.accepted);
  EXPECT_EQ(unknown.total, -1);
  EXPECT_EQ(unknown.body_length, -1);
  EXPECT_EQ(PlanDownload(200, 0, std::wstring(L"lots"), std::nullopt).total, -1);
}

TEST(HttpDownloadPlan, PartialReplyContinuesAtOffset) {
  const DownloadStart start = PlanDownload(206, 1000, std::wstring(L"500"), std::wstring(L"bytes 1000-1499/1500"));
  EXPECT_TRUE(start.accepted);
  EXPECT_TRUE(start.append);
  EXPECT_EQ(start.bytes_so_far, 1000);
  EXPECT_EQ(start.total, 1500);
  EXPECT_EQ(start.body_length, 500);

  const DownloadStart no_length = PlanDownload(206, 1000, std::nullopt, std::wstring(L"bytes 1000-1499/1500"));
  EXPECT_EQ(no_length.total, 1500);
  const DownloadStart nothing_known = PlanDownload(206, 1000, std::nullopt, std::wstring(L"bytes 1000-1499/*"));
  EXPECT_EQ(nothing_known.total, -1);
  EXPECT_TRUE(PlanDownload(206, 1000, std::wstring(L"500"), std::nullopt).accepted);
  // An absurd length must not overflow the total.
  EXPECT_EQ(PlanDownload(206, 1000, std::wstring(L"9223372036854775807"), std::nullopt).total, INT64_MAX);
}

TEST(HttpDownloadPlan, PartialReplyForAnotherRangeIsRefused) {
  const DownloadStart start = PlanDownload(206, 1000, std::wstring(L"1500"), std::wstring(L"bytes 0-1499/1500"));
  EXPECT_FALSE(start.accepted);
  EXPECT_EQ(start.error, "Server sent bytes from 0 instead of 1000");
  EXPECT_FALSE(PlanDownload(206, 0, std::wstring(L"10"), std::wstring(L"bytes 5-14/15")).accepted);
}

TEST(HttpDownloadPlan, WholeFileReplyToRangeRequestStartsOver) {
  const DownloadStart start = PlanDownload(200, 1000, std::wstring(L"1500"), std::nullopt);
  EXPECT_TRUE(start.accepted);
  EXPECT_FALSE(start.append);
  EXPECT_EQ(start.bytes_so_far, 0);
  EXPECT_EQ(start.total, 1500);
}

TEST(HttpDownloadPlan, NegativeOffsetIsAFreshDownload) {
  const DownloadStart start = PlanDownload(206, -3, std::wstring(L"10"), std::wstring(L"bytes 0-9/10"));
  EXPECT_TRUE(start.accepted);
  EXPECT_FALSE(start.append);
  EXPECT_EQ(start.bytes_so_far, 0);
  EXPECT_EQ(start.total, 10);
}

TEST(HttpDownloadPlan, BodyEndErrors) {
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, false), "");
  EXPECT_EQ(BodyEndError("Download", 0, 0, 0, false), "");
  EXPECT_EQ(BodyEndError("Download", 0, 12345, -1, false), "");
  EXPECT_EQ(BodyEndError("Download", 1000, 200, 500, false), "Download incomplete: 1200 of 1500 bytes arrived");
  EXPECT_EQ(BodyEndError("Download", 1000, 200, 500, true), "Download interrupted after 1200 of 1500 bytes");
  EXPECT_EQ(BodyEndError("Reply", 0, 70, -1, true), "Reply interrupted after 70 bytes");
  // A failed read is a failure even when every announced byte had already arrived.
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, true), "Download interrupted after 500 of 500 bytes");
}

}  // namespace
