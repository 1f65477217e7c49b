// Deliveries against relays that misbehave: each ends in bounded time with a
// truthful verdict and a short reason, and none holds back another.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/exchange.h"
#include "app/reminder.h"
#include "app/schedule_file.h"
#include "deliveries.h"
#include "fault_server.h"
#include "runtime/codepage.h"
#include "scripted_console.h"
#include "tls_test_server.h"
#include "web/percent_encoding.h"
#ifndef _WIN32
#include "winhttp_curl.h"
#endif

namespace app {
namespace {

namespace fs = std::filesystem;
using web::testing::Connection;
using web::testing::FaultServer;

constexpr int kTimeout = 2;  // the delivery time-out these tests run with

std::string Response(std::string_view status, std::string_view body,
                     std::string_view type = "application/json") {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         std::string(body);
}

// Peak resident memory of this process in KiB, where the system tells it.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int Count(std::string_view text, std::string_view part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class DeliveryFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("delivery_faults_");
    context_.console = &console_;
    context_.clock = &clock_;
    context_.directory = rt::Path::FromText(dir_.string());
    context_.settings = {"http://127.0.0.1:9/", "https://help.example/3.version",
                         "https://site.example"};
    context_.openEditor = [](const rt::Path&) { return true; };
    context_.pause = [] {};
    context_.timeoutSeconds = kTimeout;
    UseContext(&context_);
  }
  void TearDown() override {
    WaitForDeliveries();
    UseContext(nullptr);
    fs::remove_all(dir_);
  }

  RecordingConsole console_;
  // Runs the program with two tasks, a and b, against a relay that answers
  // the first `answered` requests (the test reminder's is the first) and
  // holds every later one until it goes away; returns the relay once the
  // test reminder has ended.
  std::unique_ptr<FaultServer> StartAgainstHoldingRelay(int answered) {
    std::ofstream(dir_ / "weskey.txt") << "SCT1k";
    std::ofstream(dir_ / "time.txt") << "0 0 0 1 1 * 30000 a\n0 0 0 1 1 * 30000 b\n";
    auto seen = std::make_shared<std::atomic<int>>(0);
    auto relay = std::make_unique<FaultServer>([seen, answered](Connection& c) {
      if ((*seen)++ < answered) {
        if (c.ReadRequest()) c.Send(Response("200 OK", R"({"code":0})"));
      } else if (c.ReadRequest()) {
        c.Hold();
      }
    });
    context_.settings.pushBaseUrl = relay->Url();
    context_.timeoutSeconds = 60;
    CreateAppScheduler();
    main_ = std::thread([this] { result_ = ReminderMain(); });
    console_.WaitForReads(1);
    WaitForDeliveries();  // the test reminder's
    return relay;
  }
  void Quit() {
    console_.Type("q");
    console_.Type("");
    main_.join();
    EXPECT_EQ(result_, 0);
  }

  std::thread main_;
  int result_ = -1;
  FixedClock clock_;
  AppContext context_;
  // The test reminder, once, with this key in the folder.
  void Send(const std::string& key) {
    std::ofstream(dir_ / "weskey.txt", std::ios::trunc) << key;
    SendTestReminder(context_);
  }

  fs::path dir_;
};

TEST_F(DeliveryFaults, EachEndsInTimeWithItsVerdict) {
  const std::string page = "<html><body>Please sign in</body></html>";
  const std::string cut = "…(回复过长，已截断)";
  const std::string xs(kShownReplyBytes, 'x');
  struct Case {
    const char* name;
    FaultServer::Behaviour relay;
    std::string scheme;
    bool accepted;
    std::string detail;
    int timeout = kTimeout;  // room for cases that must not end at the deadline
  } cases[] = {
      {"trickle", FaultServer::Trickle(300), "http", false, "未收到回复: 超时"},
      {"silent after connect", FaultServer::Silent(), "http", false, "未收到回复: 超时"},
      {"handshake never ends", FaultServer::Mute(), "https", false, "未收到回复: 超时"},
      {"endless body", FaultServer::Endless(), "http", false, "回复不是中转站的应答 " + xs + cut},
      {"5 MB reply", FaultServer::Huge(5 << 20), "http", false, "回复不是中转站的应答 " + xs + cut,
       15},
      {"redirect loop",
       FaultServer::Answer("HTTP/1.1 302 Found\r\nLocation: /SCT1k.send\r\nContent-Length: "
                           "0\r\nConnection: close\r\n\r\n"),
       "http", false, "未收到回复: 重定向过多"},
      {"closed without reply", FaultServer::CloseAfterRequest(), "http", false,
       "未收到回复: 连接被关闭"},
      {"reset without reply", FaultServer::ResetAfterRequest(), "http", false,
       "未收到回复: 连接被关闭"},
      {"SSH banner", FaultServer::Answer("SSH-2.0-OpenSSH_9.2p1\r\n"), "http", false,
       "未收到回复: 回复不是HTTP应答"},
      {"redirect to file:",
       FaultServer::Answer("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: "
                           "0\r\nConnection: close\r\n\r\n"),
       "http", false, "未收到回复: 重定向被拒绝"},
      {"200 HTML", FaultServer::Answer(Response("200 OK", page, "text/html")), "http", false,
       "回复不是中转站的应答 " + page},
      {"500 HTML", FaultServer::Answer(Response("500 Oops", page, "text/html")), "http", false,
       "HTTP 500 " + page},
      {"quota refusal",
       FaultServer::Answer(Response("200 OK", R"({"code":40001,"message":"quota used up"})")),
       "http", false, "quota used up"},
      {"older API accepts", FaultServer::Answer(Response("200 OK", R"({"errno":0})")), "http", true,
       R"({"errno":0})"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingConsole console;
    context_.console = &console;
    FaultServer relay(c.relay);
    context_.settings.pushBaseUrl = relay.Url("/", c.scheme);
    context_.timeoutSeconds = c.timeout;
    const auto start = std::chrono::steady_clock::now();
    Send("SCT1k");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A bound against hangs, not a measure of speed.
    EXPECT_LT(elapsed, std::chrono::seconds(c.timeout + 5));
    const std::string stamp = "2026-12-06 09:01:01";
    EXPECT_EQ(console.Output(), stamp + (c.accepted ? "  推送完成\r\n" : "  推送失败\r\n") + stamp +
                                    " " + c.detail + "\r\n\r\n");
  }
}

// Over HTTPS against a local TLS server: the relay's verdict crosses a
// certificate of the trusted test authority; one of an unknown authority is
// refused, and said so.
TEST_F(DeliveryFaults, HttpsVerdictFollowsTheCertificate) {
#ifndef _WIN32
  web::SetTrustedAuthorityFileForTesting(web::testing::TestRootCertificateFile());
#endif
  using Certificate = web::testing::TlsTestServer::Certificate;
  const struct {
    Certificate certificate;
    std::string verdict;
  } cases[] = {
      {Certificate::kTrusted, "  推送完成\r\n2026-12-06 09:01:01 {\"code\":0}\r\n\r\n"},
      {Certificate::kUntrusted, "  推送失败\r\n2026-12-06 09:01:01 未收到回复: 证书被拒绝\r\n\r\n"},
  };
  for (const auto& c : cases) {
    RecordingConsole console;
    context_.console = &console;
    web::testing::TlsTestServer relay(c.certificate);
    ASSERT_EQ(relay.error(), "");
    // The key and ".send" follow the base address: here a query value.
    context_.settings.pushBaseUrl =
        relay.Url("/json?body=" + web::PercentEncode(R"({"code":0})") + "&key=");
    Send("SCT1k");
    EXPECT_EQ(console.Output(), "2026-12-06 09:01:01" + c.verdict);
  }
#ifndef _WIN32
  web::SetTrustedAuthorityFileForTesting("");
#endif
}

TEST_F(DeliveryFaults, RefusedConnectionIsNamed) {
  Send("SCT1k");  // nothing listens on port 9
  EXPECT_EQ(console_.Output(),
            "2026-12-06 09:01:01  推送失败\r\n2026-12-06 09:01:01 "
            "未收到回复: 无法连接\r\n\r\n");
}

TEST_F(DeliveryFaults, AHugeReplyCostsLittleMemory) {
  // 200 MiB against a bound of 16: sanitizer builds keep freed memory for a
  // while, so the bound has room, and a reply kept whole still breaks it.
  FaultServer relay(FaultServer::Huge(std::size_t{200} << 20));
  context_.settings.pushBaseUrl = relay.Url();
  Send("SCT1k");  // the first exchange loads the libraries
  const long before = PeakResidentKiB();
  if (before < 0) GTEST_SKIP() << "no peak memory figure on this system";
  Send("SCT1k");
  EXPECT_LT(PeakResidentKiB() - before, 16 * 1024);
  EXPECT_NE(console_.Output().find("…(回复过长，已截断)"), std::string::npos);
}

// Two tasks of one second, after earlier deliveries left an idle worker
// behind: the second must get a worker of its own, not wait for the first.
TEST_F(DeliveryFaults, SameSecondTasksDoNotWaitOnEachOther) {
  // The test reminder and a first task are answered, later requests held.
  auto relay = StartAgainstHoldingRelay(2);
  OnReminderTrigger(rt::NowLocal(clock_), "a");
  WaitForDeliveries();  // a worker is idle now
  // Held deliveries keep their workers: three rounds stay below the cap.
  for (int round = 1; round <= 3; ++round) {
    OnReminderTrigger(rt::NowLocal(clock_), "a");
    OnReminderTrigger(rt::NowLocal(clock_), "b");
    // Both reach the relay while neither has ended.
    ASSERT_TRUE(relay->WaitForRequests(2 + 2 * round)) << "round " << round;
    if (round == 1) {
      EXPECT_EQ(console_.Output().find("推送失败"), std::string::npos);
    }
  }
  relay.reset();  // all end now, each naming its task; their retries end with "q"
  WaitForDeliveries();
  Quit();
  DestroyAppScheduler();
  const std::string out = console_.Output();
  const std::string closed = "连接被关闭";
  for (const std::string task : {"a", "b"}) {
    EXPECT_NE(out.find(" [" + task + "] 未收到回复: " + closed + "，10 秒后第 1 次重试\r\n"),
              std::string::npos)
        << out;
  }
}

// A relay that holds every try: the firings beyond the workers wait for one
// instead of being dropped. The end of the program settles every firing
// still open, truthfully: the tries that wait for their reply, and those
// that never got a worker.
TEST_F(DeliveryFaults, TheEndSettlesEveryOpenFiring) {
  auto relay = StartAgainstHoldingRelay(1);
  const int running = DeliveryLimits{}.running;
  const int fired = 3 * running;
  for (int i = 0; i < fired; ++i) OnReminderTrigger(rt::NowLocal(clock_), "a");
  ASSERT_TRUE(relay->WaitForRequests(1 + running));
  Quit();
  // Every firing has its one verdict; none was dropped. (A relay's listen
  // queue may refuse a few of the connections at once: those wait for a
  // retry, and end with it.)
  const std::string out = console_.Output();
  EXPECT_EQ(Count(out, "  推送失败 [a]\r\n"), fired) << out;
  EXPECT_GE(Count(out, " [a] 程序结束，没有发送\r\n"), fired - running) << out;
  EXPECT_EQ(Count(out, "这次没有发送"), 0) << out;
  std::ifstream log(dir_ / "reminder.log", std::ios::binary);
  const std::string history(std::istreambuf_iterator<char>(log), {});
  EXPECT_EQ(Count(history, rt::TextToUtf8("\ta\t推送失败\t")), fired);
  EXPECT_GE(Count(history, rt::TextToUtf8("\ta\t推送失败\t0\t-\t程序结束，没有发送")),
            fired - running);
  DestroyAppScheduler();
}

// Past the running and waiting tries, a firing is settled at once, unsent,
// with its line: memory stays bounded whatever the relay does.
TEST_F(DeliveryFaults, FiringsPastTheWaitingBoundAreSettledAtOnce) {
  auto relay = StartAgainstHoldingRelay(1);
  ASSERT_TRUE(relay->WaitForRequests(1));  // the test reminder is answered
  History history;
  {
    Deliveries bounded([this]() -> const AppContext& { return context_; }, history, nullptr,
                       {.running = 1, .waiting = 2});
    bounded.Start(rt::NowLocal(clock_), "b");
    ASSERT_TRUE(relay->WaitForRequests(2));  // held: its worker is taken
    for (int i = 0; i < 4; ++i) bounded.Start(rt::NowLocal(clock_), "b");
    EXPECT_EQ(Count(console_.Output(), "前面的发送都还在等待回复，这次没有发送\r\n"), 2);
    bounded.EndAll(0);
    EXPECT_EQ(Count(console_.Output(), "程序结束，没有发送\r\n"), 2);
    EXPECT_EQ(Count(console_.Output(), "程序结束时仍未收到回复\r\n"), 1);
    relay.reset();  // the held exchange ends, and its worker with it
  }
  Quit();
  DestroyAppScheduler();
}

TEST_F(DeliveryFaults, ScheduleLinesReachTheScreenWithoutControls) {
  std::ofstream(dir_ / "weskey.txt") << "SCT1k";
  // And a task line with a message of 50,000 characters: one short line.
  std::ofstream(dir_ / "time.txt") << "0 0 0 1 1 * 30000 \x1b[2Jwipe\n\x1b[31m bad\n"
                                   << "0 0 0 1 2 * 30000 long " << std::string(50'000, 'x') << "\n";
  CreateAppScheduler();
  console_.Type("q");
  console_.Type("");
  EXPECT_EQ(ReminderMain(), 0);
  DestroyAppScheduler();
  const std::string out = console_.Output();
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  EXPECT_NE(out.find("任务已添加: 0 0 0 1 1 * 30000 ?[2Jwipe\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("任务添加失败: ?[31m bad\r\n"), std::string::npos) << out;
  const std::size_t added = out.find("任务已添加: 0 0 0 1 2 * 30000 long xxx");
  ASSERT_NE(added, std::string::npos);
  EXPECT_LT(out.find("\r\n", added) - added, 220u);
}

}  // namespace
}  // namespace app
