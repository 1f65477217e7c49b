// Time to the verdict of one delivery whose relay misbehaves, with the
// program's own time-out (15 s): a bound, so one iteration each is enough.
//   delivery_bench --benchmark_filter=Misbehaving
#include <benchmark/benchmark.h>

#include "app/reminder.h"
#include "fault_server.h"
#include "runtime/console.h"

#include "fakes.h"

namespace {

using web::testing::FaultServer;

using rt::testing::QuietConsole;

void Deliver(benchmark::State& state, const FaultServer::Behaviour& behaviour) {
  QuietConsole console;
  app::AppContext context;
  context.console = &console;
  app::UseContext(&context);
  for (auto _ : state) {
    FaultServer relay(behaviour);
    context.settings.pushBaseUrl = relay.Url();
    app::PushReminder("SCT1bench", "t", "b");
  }
  app::UseContext(nullptr);
}

void MisbehavingRelay_Trickle(benchmark::State& state) {
  Deliver(state, FaultServer::Trickle(1000));
}
void MisbehavingRelay_Silent(benchmark::State& state) {
  Deliver(state, FaultServer::Silent());
}
BENCHMARK(MisbehavingRelay_Trickle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(MisbehavingRelay_Silent)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
