// Text services on large texts: time per byte should stay flat as the text
// grows (no quadratic behaviour).
#include <benchmark/benchmark.h>

#include "runtime/text.h"

namespace {

// Header-like lines with some double-byte characters, `size` bytes long.
std::string MakeText(std::size_t size) {
  const std::string line = "Set-Cookie: session=\xD6\xD0\xCE\xC4; path=/\r\n";
  std::string t;
  while (t.size() < size) t += line;
  t.resize(size);
  return t;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_FindTextAbsent(benchmark::State& state) {
  const std::string t = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(rt::FindText(t, "Content-Type:", 1, true));
  SetBytes(state);
}

// A pattern that nearly matches everywhere: the classic quadratic trap.
void BM_FindTextNearMiss(benchmark::State& state) {
  const std::string t(static_cast<std::size_t>(state.range(0)), 'a');
  const std::string s = std::string(1000, 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(rt::FindText(t, s));
  SetBytes(state);
}

void BM_SplitText(benchmark::State& state) {
  const std::string t = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(rt::SplitText(t, "\r\n"));
  SetBytes(state);
}

void BM_ReplaceText(benchmark::State& state) {
  const std::string t = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(rt::ReplaceText(t, "\r\n", "{$}"));
  SetBytes(state);
}

constexpr std::int64_t kMin = 64 << 10, kMax = 4 << 20;
BENCHMARK(BM_FindTextAbsent)->RangeMultiplier(4)->Range(kMin, kMax);
BENCHMARK(BM_FindTextNearMiss)->RangeMultiplier(4)->Range(kMin, kMax);
BENCHMARK(BM_SplitText)->RangeMultiplier(4)->Range(kMin, kMax);
BENCHMARK(BM_ReplaceText)->RangeMultiplier(4)->Range(kMin, kMax);

}  // namespace

BENCHMARK_MAIN();
