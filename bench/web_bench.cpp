// One delivery-shaped POST to a local server: through WebRequest (component,
// header completion and normalisation, reply collection) and as a bare
// libcurl POST of the same body and headers. Both open a new connection per
// request, as a delivery does. Compare the medians:
//   web_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "runtime/codepage.h"
#include "web/header_text.h"
#include "web/web_request.h"

namespace {

const std::string kBody =
    "text=整点秒杀 09:00&desp=**秒杀开始了** 09:00 [去看看](https://example.invalid/#1796518800)";

class Server {
 public:
  Server() {
    server_.Post("/KEY.send", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("{\"code\":0,\"message\":\"\\u6210\\u529f\",\"size\":" +
                          std::to_string(req.body.size()) + "}",
                      "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/KEY.send"; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

Server& TheServer() {
  static Server server;
  return server;
}

void BM_WebRequestPost(benchmark::State& state) {
  const std::string url = TheServer().Url();
  for (auto _ : state) {
    const rt::Bytes reply = web::WebRequest({.url = url, .method = 1, .bodyText = kBody});
    if (reply.empty()) state.SkipWithError("no reply");
    benchmark::DoNotOptimize(reply.data());
  }
}
BENCHMARK(BM_WebRequestPost)->UseRealTime();

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void BM_BareCurlPost(benchmark::State& state) {
  const std::string url = TheServer().Url();
  const std::string body = rt::TextToUtf8(kBody);
  const std::string referer = "Referer: " + url;
  for (auto _ : state) {
    CURL* c = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: */*");
    headers = curl_slist_append(headers, referer.c_str());
    headers = curl_slist_append(headers, "Accept-Language: zh-cn");
    headers = curl_slist_append(headers,
                                "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    std::string reply;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
    if (curl_easy_perform(c) != CURLE_OK || reply.empty()) state.SkipWithError("no reply");
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    benchmark::DoNotOptimize(reply.data());
  }
}
BENCHMARK(BM_BareCurlPost)->UseRealTime();

// MergeCookies of n sent and n returned cookies, half of the names shared,
// every returned name twice: the time per cookie must stay flat.
void BM_MergeCookies(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  std::string sentText, returnedText;
  for (int i = 0; i < n; ++i) {
    sentText += "s" + std::to_string(i % (n / 2) + n / 2) + "=" + std::to_string(i) + "; ";
    returnedText += "s" + std::to_string(i / 2) + "=v; ";
  }
  for (auto _ : state) {
    std::string sent = sentText, returned = returnedText;
    benchmark::DoNotOptimize(web::MergeCookies(sent, returned).data());
  }
  state.SetComplexityN(n);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MergeCookies)->Arg(1000)->Arg(8000)->Arg(64000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
