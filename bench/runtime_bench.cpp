// Runtime edges on hostile input: code-page conversion of text that code page
// 936 cannot hold, and one very long console line through a pipe.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "runtime/codepage.h"
#include "runtime/console.h"

namespace {

constexpr std::size_t kMiB = 1 << 20;

// `size` bytes made of repeats of `unit`.
std::string Repeat(std::string_view unit, std::size_t size) {
  std::string out;
  out.reserve(size + unit.size());
  while (out.size() < size) out.append(unit);
  out.resize(size - size % unit.size());
  return out;
}

void Utf8ToText(benchmark::State& state, std::string_view unit) {
  const std::string text = Repeat(unit, kMiB);
  for (auto _ : state) benchmark::DoNotOptimize(rt::Utf8ToText(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_Utf8ToText_Chinese(benchmark::State& state) {
  Utf8ToText(state, "\xE4\xB8\xAD");  // 中: representable, the ordinary case
}
void BM_Utf8ToText_Emoji(benchmark::State& state) {
  Utf8ToText(state, "\xF0\x9F\x98\x80");
}
void BM_Utf8ToText_Hangul(benchmark::State& state) {
  Utf8ToText(state, "\xED\x95\x9C");  // 한
}
void BM_Utf8ToText_InvalidUtf8(benchmark::State& state) {
  Utf8ToText(state, "\xFF");
}
// What people write: ASCII, Chinese, emoji, Hangul, accented Latin, signs.
constexpr std::string_view kMixedUnit =
    "Meeting \xE5\x8D\x88\xE9\xA5\xAD\xF0\x9F\x98\x80 \xED\x95\x9C\xEA\xB5\xAD "
    "J\xC3\xB6rg \xE2\x82\xAC \xC3\x9F \xC3\xB1 \xE2\x84\xA2 \xC2\xBD \xF0\x9F\x8D\x9A\r\n";

// 1 MiB of mixed UTF-8 to the program's text and back.
void BM_Utf8ToText_Mixed(benchmark::State& state) {
  Utf8ToText(state, kMixedUnit);
}
void BM_TextToUtf8_Mixed(benchmark::State& state) {
  const std::string text = rt::Utf8ToText(Repeat(kMixedUnit, kMiB));
  for (auto _ : state) benchmark::DoNotOptimize(rt::TextToUtf8(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
void BM_TextToWide_Undecodable(benchmark::State& state) {
  const std::string text(kMiB, '\xFF');
  for (auto _ : state) benchmark::DoNotOptimize(rt::TextToWide(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// One line of 20 MiB (plus a line end) written into standard input by
// another thread, read with ReadConsoleLine until it is through; argument 0:
// ASCII, 1: Chinese in UTF-8. Run it alone (--benchmark_filter) so that the
// peak resident set is its own.
void BM_ReadConsoleLine_20MiB(benchmark::State& state) {
  const std::string unit = state.range(0) == 0 ? "x" : "\xE4\xB8\xAD";
  const std::size_t kLine = 20 * kMiB - 20 * kMiB % unit.size() + unit.size();
  const std::size_t kText = kLine / unit.size() * (state.range(0) == 0 ? 1 : 2);
  const long peakBefore = PeakRssKiB();
  const int saved = ::dup(STDIN_FILENO);
  for (auto _ : state) {
    int ends[2];
    if (::pipe(ends) != 0) state.SkipWithError("pipe");
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    std::thread writer([fd = ends[1], &unit, kLine] {
      const std::string chunk = Repeat(unit, 64 << 10);
      std::size_t left = kLine;
      while (left > 0) {
        const std::size_t n = std::min(left, chunk.size());
        if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) break;
        left -= n;
      }
      (void)!::write(fd, "\n", 1);
      ::close(fd);
    });
    std::size_t got = 0;
    while (got < kText) {
      const std::string piece = rt::ReadConsoleLine();
      if (piece.empty()) break;
      got += piece.size();
    }
    writer.join();
    rt::ReadConsoleLine();  // the end of input
    if (got != kText) state.SkipWithError("short line");
  }
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  state.counters["peak_rss_growth_KiB"] = static_cast<double>(PeakRssKiB() - peakBefore);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLine));
}

BENCHMARK(BM_ReadConsoleLine_20MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Utf8ToText_Chinese)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToText_Emoji)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToText_Hangul)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToText_InvalidUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToText_Mixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextToUtf8_Mixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextToWide_Undecodable)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
