// The net layer's decisions: addresses and reply headers from the server (how they are
// split, how a reply to a range request is taken), and the realm status and its cycle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "base/text.h"
#include "net/http_client.h"
#include "net/http_download_plan.h"
#include "net/http_url.h"
#include "net/status_cycle.h"
#include "net/status_probe.h"
#include "net/update_server.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const std::wstring kLongestHost(kMaxUrlHostChars - 1, L'h');
const std::wstring kLongestPath = L"/" + std::wstring(kMaxUrlPathChars - 2, L'p');

// Shown as "s host port path" (s: 1 for https); the fragment never reaches the server.
TEST(SplitUrl, TakesSchemeHostPortAndPath) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"HTTPS://cdn.example.org/files/a.mpq", L"1 cdn.example.org 443 /files/a.mpq"},
      {L"http://127.0.0.1:8405/a/b.bin?cut=10&x=%20y#section", L"0 127.0.0.1 8405 /a/b.bin?cut=10&x=%20y"},
      {L"http://host:/x", L"0 host 80 /x"},
      {L"https://host:65535/", L"1 host 65535 /"},
      {L"http://[::1]:9000/x", L"0 ::1 9000 /x"},
      {L"http://" + kLongestHost + L"/", L"0 " + kLongestHost + L" 80 /"},
      {L"http://host" + kLongestPath, L"0 host 80 " + kLongestPath},
      // The update server's addresses as a build makes them: https with no port is 443.
      {Widen(ServerUrl("https", "localhost", "", "/launcher/manifest.php")), L"1 localhost 443 /launcher/manifest.php"},
  };
  for (const auto& [url, shown] : cases) {
    UrlParts p;
    EXPECT_TRUE(SplitUrl(url, p)) << Narrow(url);
    EXPECT_EQ(std::to_wstring(p.secure) + L" " + p.host + L" " + std::to_wstring(p.port) + L" " + p.path, shown);
  }
}

TEST(SplitUrl, RejectsMalformedAddressesAndLeavesPartsAlone) {
  const auto rejected = [](const std::wstring& url) {
    UrlParts parts;
    parts.host = L"untouched";
    return !SplitUrl(url, parts) && parts.host == L"untouched";
  };
  for (const wchar_t* url :
       {L"", L"updates.example.org/manifest.php", L"ftp://host/x", L"http:/host/x", L"http:///path", L"http://:80/x",
        L"http://user:pw@host/x", L"http://host:0/", L"http://host:65536/", L"http://host:8a/", L"http://ho st/",
        L"http://host/a\nb", L"http://[::1/x", L"http://[::1]x/"})
    EXPECT_TRUE(rejected(url)) << Narrow(url);
  EXPECT_TRUE(rejected(L"http://" + kLongestHost + L"h/"));
  EXPECT_TRUE(rejected(L"http://host" + kLongestPath + L"p"));
}

// A block map's address is written relative to its file's address.
TEST(ResolveUrlReference, ReadsAReferenceAsABrowserReadsALink) {
  const std::string base = "http://cdn.example:81/realm/Data/patch-4.MPQ?v=abc#top";
  const std::pair<std::string, std::string> cases[] = {
      {"patch-4.MPQ.ostrel-map?v=1", "http://cdn.example:81/realm/Data/patch-4.MPQ.ostrel-map?v=1"},
      {"../maps/./x.map", "http://cdn.example:81/realm/maps/x.map"},
      {"../../../../x", "http://cdn.example:81/x"},
      {"/x/y", "http://cdn.example:81/x/y"},
      {"//other.example/x", "http://other.example/x"},
      {"?v=2", "http://cdn.example:81/realm/Data/patch-4.MPQ?v=2"},
      {"HTTPS://other.example/x", "HTTPS://other.example/x"},
      {"ftp://other.example/x", ""},
      {"", ""},
  };
  for (const auto& [reference, resolved] : cases)
    EXPECT_EQ(ResolveUrlReference(base, reference), resolved) << reference;
  EXPECT_EQ(ResolveUrlReference("https://h", "m"), "https://h/m");
  EXPECT_EQ(ResolveUrlReference("Data/x", "m"), "");
}

// Windows reports a refused certificate as 12175 (or, through its callback, as the
// specific code); only these change what the player is told.
TEST(HttpDownloadPlan, TlsFailuresByWinHttpError) {
  const std::pair<uint32_t, const char*> cases[] = {{12175, kCertificateNotTrusted},
                                                    {12045, kCertificateNotTrusted},
                                                    {12157, kSecureConnectionFailed},
                                                    {12029, nullptr}};
  for (const auto& [code, text] : cases) EXPECT_STREQ(TlsFailureText(ClassifyTlsError(code)), text) << code;
}

TEST(HttpDownloadPlan, ParsesHeaderValues) {
  EXPECT_EQ(RangeHeader(5368709120), L"Range: bytes=5368709120-");  // good values are read in the plans below
  int64_t length = -7;
  for (const wchar_t* bad : {L"", L"-1", L"+5", L"12a", L"1 2", L"9223372036854775808"})
    EXPECT_FALSE(ParseContentLength(bad, length)) << Narrow(bad);

  ContentRange range;
  for (const wchar_t* bad : {L"", L"bytes */1500", L"items 0-9/10", L"bytes 9-0/10", L"bytes 0-10/10", L"bytes 0-9"})
    EXPECT_FALSE(ParseContentRange(bad, range)) << Narrow(bad);
}

// Shown as "append|write <bytes so far> <total> <body length>", or the refusal.
std::string Show(const DownloadStart& s) {
  if (!s.accepted) return "!" + s.error;
  return (s.append ? "append " : "write ") + std::to_string(s.bytes_so_far) + " " + std::to_string(s.total) + " " +
         std::to_string(s.body_length);
}

// A whole-file 200 to a range request rewrites the file from its start; a 206 for
// another range is refused; an absurd length must not overflow the total.
TEST(HttpDownloadPlan, HowAReplyIsTaken) {
  const std::optional<std::wstring> none;
  const std::tuple<uint32_t, int64_t, std::optional<std::wstring>, std::optional<std::wstring>, std::string> cases[] = {
      {404, 0, L"10", none, "!HTTP 404"},
      {200, 0, L" 4096 ", none, "write 0 4096 4096"},
      {200, 1000, L"1500", none, "write 0 1500 1500"},
      {206, 1000, L"500", L"bytes 1000-1499/1500", "append 1000 1500 500"},
      {206, 1000, none, L"bytes 1000-1499/*", "append 1000 -1 -1"},
      {206, 1000, L"9223372036854775807", none, "append 1000 9223372036854775807 9223372036854775807"},
      {206, 1000, L"1500", L"bytes 0-1499/1500", "!Server sent bytes from 0 instead of 1000"},
      {206, 0, L"10", L"bytes 5-14/15", "!Server sent bytes from 5 instead of 0"},
      {206, -3, L"10", L"bytes 0-9/10", "write 0 10 10"},
  };
  for (const auto& [status, offset, length, range, shown] : cases)
    EXPECT_EQ(Show(PlanDownload(status, offset, length, range)), shown) << status << " at " << offset;
}

// A piece is written only from a 206 for exactly the range asked of a file of the
// size expected; a reply that does not fit sends the file over one connection (R).
TEST(HttpDownloadPlan, HowARangeReplyIsTaken) {
  const std::optional<std::wstring> none;
  const std::tuple<uint32_t, std::optional<std::wstring>, std::optional<std::wstring>, std::string> cases[] = {
      {206, L"100", L"bytes 100-199/1000", ""},
      {206, none, L"bytes 100-199/1000", ""},
      {503, L"9", none, "S HTTP 503"},
      {200, L"1000", none, "R Server sent the whole file instead of a range"},
      {206, L"100", none, "R Server sent no readable Content-Range for bytes 100-199"},
      {206, L"100", L"bytes 0-99/1000", "R Server sent bytes 0-99 instead of 100-199"},
      {206, L"100", L"bytes 100-199/999", "R Server gives the file 999 bytes instead of 1000"},
      {206, L"100", L"bytes 100-199/*", "R Server gives the file no size instead of 1000"},
      {206, L"900", L"bytes 100-199/1000", "R Server announced another length than bytes 100-199"},
  };
  for (const auto& [status, length, range, shown] : cases) {
    const RangeStart s = PlanRangeReply(status, 100, 199, 1000, length, range);
    const char kind = s.failure == DownloadFailure::Ranges ? 'R' : 'S';
    EXPECT_EQ(s.accepted ? "" : std::string(1, kind) + " " + s.error, shown);
  }
  EXPECT_EQ(RangeHeader(0, 8388607), L"Range: bytes=0-8388607");
}

// Which failed tries are made again, after what pause (-1: none).
TEST(HttpDownloadPlan, RetryPauses) {
  using F = DownloadFailure;
  // failure, status, Retry-After, retry number, pause
  const std::tuple<F, uint32_t, int64_t, int, double> cases[] = {
      {F::Network, 0, -1, 1, 2},    {F::Network, 0, -1, 3, 30},  {F::Network, 0, -1, 4, -1},
      {F::Status, 500, -1, 2, 8},   {F::Status, 408, -1, 1, 2},  {F::Status, 429, 5, 1, 5},
      {F::Status, 503, 600, 1, 60}, {F::Status, 404, -1, 1, -1}, {F::Status, 206, -1, 1, -1},
      {F::DiskFull, 0, -1, 1, -1},  {F::Local, 0, -1, 1, -1},
  };
  for (const auto& [failure, status, after, retry, pause] : cases) {
    DownloadResult r;
    r.failure = failure, r.status = status, r.retry_after_s = after;
    EXPECT_EQ(RetryPause(r, retry, RetryPauses{}), pause) << status << " retry " << retry;
  }
  EXPECT_EQ(ParseRetryAfter(L" 120 "), 120);
  EXPECT_EQ(ParseRetryAfter(L"Wed, 21 Oct 2026 07:28:00 GMT"), -1);
  EXPECT_EQ(ReplyTooLargeError(1 << 20), "reply larger than 1 MiB");
  EXPECT_EQ(ReplyTooLargeError(64 << 10), "reply larger than 64 KiB");
}

TEST(HttpDownloadPlan, BodyEndErrors) {
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, false), "");
  EXPECT_EQ(BodyEndError("Download", 0, 12345, -1, false), "");
  EXPECT_EQ(BodyEndError("Download", 1000, 200, 500, false), "Download incomplete: 1200 of 1500 bytes arrived");
  EXPECT_EQ(BodyEndError("Reply", 0, 70, -1, true), "Reply interrupted after 70 bytes");
  // A failed read is a failure even when every announced byte had already arrived.
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, true), "Download interrupted after 500 of 500 bytes");
}

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A readable status document decides; without one the login port does (latency -1: closed).
TEST(StatusDecision, ReadableDocumentDecidesElseThePort) {
  const std::tuple<int, std::uint32_t, std::string, bool, int> cases[] = {
      {-1, 200, R"({"online":true,"population":57.9})", true, 57},
      {12, 200, R"({"population":8})", false, 8},  // no boolean "online": offline whatever the port said
      {12, 200, R"({"online":1})", false, 0},
      {5, 200, R"({"online":true,"population":1e12})", true, 2147483647},
      {0, 0, "", true, 0},
      {0, 200, "<html>", true, 0},
      {-1, 200, "<html>", false, 0},
  };
  for (const auto& [latency, status, body, online, population] : cases) {
    HttpResponse reply;
    reply.status = status;
    reply.ok = status == 200;
    reply.body = body;
    const StatusSnapshot s = DecideStatus(latency, reply);
    EXPECT_EQ(std::make_tuple(s.online, s.population, s.latency_ms), std::make_tuple(online, population, latency))
        << latency << " " << status << " " << body;
  }
}

// A probe the test controls: counts its calls; throws from call `fail_from` on when that is set.
struct FakeProbe {
  int fail_from = 0, started = 0;
  std::mutex mutex;
  std::condition_variable changed;
  StatusSnapshot operator()() {
    std::lock_guard<std::mutex> lock(mutex);
    changed.notify_all();
    if (++started >= fail_from && fail_from > 0) throw std::runtime_error("probe failed");
    return StatusSnapshot{true, started, 1};
  }
  int Started(int at_least = 0) {  // waits up to ten seconds for `at_least` calls
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, 10s, [&] { return started >= at_least; });
    return started;
  }
};

// A second Start is ignored. A refresh probes at once and starts a new cycle (one more probe, not a stream); a result
// is published once stored; Stop never waits out a tick.
TEST(StatusCycle, RefreshesAtOncePublishesStoredResultsAndStopsPromptly) {
  FakeProbe probe, ignored;
  StatusCycle cycle(10000ms);                  // the next regular probe is ten minutes away
  EXPECT_EQ(cycle.Snapshot().latency_ms, -1);  // nothing probed yet
  std::atomic<int> seen_population{0};
  cycle.Start([&] { return probe(); }, [&] { seen_population = cycle.Snapshot().population; });
  cycle.Start([&] { return ignored(); }, nullptr);  // already running
  ASSERT_GE(probe.Started(1), 1);
  const auto asked = Clock::now();
  cycle.RequestRefresh();
  ASSERT_GE(probe.Started(3), 3);
  cycle.Stop();
  EXPECT_LT(Clock::now() - asked, 5s);
  EXPECT_EQ(probe.Started() + ignored.Started(), 3);
  EXPECT_EQ(seen_population.load(), 3);
}

// A throwing probe must not take the process down; the last good result stays.
TEST(StatusCycle, AnExceptionEndsTheThreadAndKeepsTheLastSnapshot) {
  FakeProbe probe;
  probe.fail_from = 2;
  StatusCycle cycle(1ms);
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_GE(probe.Started(2), 2);
  cycle.Stop();
  EXPECT_EQ(probe.Started(), 2);
  EXPECT_EQ(cycle.Snapshot().population, 1);
}

}  // namespace
