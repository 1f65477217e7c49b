// Time to the verdict of one delivery whose relay misbehaves, with the
// program's own time-out (15 s): a bound, so one iteration each is enough.
//   delivery_bench --benchmark_filter=Misbehaving
// And the verdict on a reply of the largest size kept (1 MiB), decoded and
// masked whole: plain text, escapes that decoding drops or shrinks, and the
// request path echoed over and over.
//   delivery_bench --benchmark_filter=Judge
#include <benchmark/benchmark.h>

#include <fstream>

#include "app/exchange.h"
#include "app/reminder.h"
#include "fault_server.h"
#include "runtime/console.h"

#include "fakes.h"
#include "temp_folder.h"

namespace {

using web::testing::FaultServer;

using rt::testing::QuietConsole;

void Deliver(benchmark::State& state, const FaultServer::Behaviour& behaviour) {
  QuietConsole console;
  const rt::testing::TempFolder folder("delivery_bench_");
  std::ofstream(folder.path() / "weskey.txt") << "SCT1bench";
  app::AppContext context;
  context.console = &console;
  context.directory = rt::Path(folder.path().native());
  for (auto _ : state) {
    FaultServer relay(behaviour);
    context.settings.pushBaseUrl = relay.Url();
    app::SendTestReminder(context);
  }
}

void MisbehavingRelay_Trickle(benchmark::State& state) {
  Deliver(state, FaultServer::Trickle(1000));
}
void MisbehavingRelay_Silent(benchmark::State& state) {
  Deliver(state, FaultServer::Silent());
}
BENCHMARK(MisbehavingRelay_Trickle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(MisbehavingRelay_Silent)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void JudgeLargestReply(benchmark::State& state, std::string_view piece) {
  rt::Bytes body;
  while (body.size() + piece.size() <= app::kMaxReplyBytes)
    body.insert(body.end(), piece.begin(), piece.end());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        app::JudgeExchange(500, 0, body, "SCT987654321abcdefghijKLMNOPqrstuv"));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
void JudgeReply_Plain(benchmark::State& state) {
  JudgeLargestReply(state, "<p>plain text</p>\n");
}
void JudgeReply_LineContinuations(benchmark::State& state) {
  JudgeLargestReply(state, "\\\n");
}
void JudgeReply_PercentEscapes(benchmark::State& state) {
  JudgeLargestReply(state, "%41");
}
void JudgeReply_EchoedPath(benchmark::State& state) {
  JudgeLargestReply(state, "/%53%43%54987654321abcdefghijKLMNOPqrstuv.send ");
}
BENCHMARK(JudgeReply_Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(JudgeReply_LineContinuations)->Unit(benchmark::kMillisecond);
BENCHMARK(JudgeReply_PercentEscapes)->Unit(benchmark::kMillisecond);
BENCHMARK(JudgeReply_EchoedPath)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
