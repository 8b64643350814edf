// Cost of reading a tag-value document, per MiB, for a 1 MiB and a 16 MiB
// document, and the ratio of the two: reading must stay linear, so the
// 16 MiB document should cost about as much per MiB as the 1 MiB one (the
// target is at most 1.3 times). Two shapes are measured: plain values, and
// values holding one escape every ten bytes or so (100 000 per MiB), which is
// where a careless unescape turns quadratic.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "doc/tag_reader_handle.h"
#include "median_reporter.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kEscapesPerMiB = 100000;

// An answer shaped like the server's: small "sign" and "order" elements and
// a "data" element whose value fills the document to exactly `size` bytes.
// With `escapes_per_mib`, the value holds that many "_<" and "_>" pairs per
// MiB, spread evenly.
std::string MakeDocument(std::size_t size, std::size_t escapes_per_mib) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string head =
      "<sign>" + std::string(96, 'S') + "</sign><order>status,desc</order><data>";
  const std::string tail = "</data>\r\n";
  std::size_t value_size = size - head.size() - tail.size();

  std::string document = head;
  document.reserve(size);
  std::size_t escapes = escapes_per_mib * size / kMiB;
  std::size_t stride = escapes != 0 ? value_size / escapes : value_size + 1;
  for (std::size_t i = 0, made = 0; i < value_size; ++i) {
    // An escape takes two bytes; keep it whole and inside the value.
    if (made < escapes && i % stride == stride - 2 && i + 1 < value_size) {
      document += '_';
      document += (made % 2 == 0) ? '<' : '>';
      ++made;
      ++i;
    } else {
      document += kAlphabet[i % 64];
    }
  }
  return document + tail;
}

struct Shape {
  const char *label;
  std::size_t escapes_per_mib;
};

const Shape kShapes[] = {{"plain", 0}, {"escaped", kEscapesPerMiB}};

// The 1 MiB document is timed twice: alone, when it stays in the cache from
// one parse to the next, and as 16 copies parsed in turn, which touch as much
// memory as the 16 MiB document. The second comparison shows how the reader
// scales apart from the cache.
constexpr std::size_t kRotatedCopies = 16;

std::string BenchmarkName(const Shape &shape, const char *variant) {
  return std::string("Parse/") + shape.label + "/" + variant;
}

void RegisterParse(const std::string &name, const std::vector<std::string> *documents) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [documents](benchmark::State &state) {
                                 std::size_t next = 0;
                                 std::int64_t bytes = 0;
                                 for (auto _ : state) {
                                   const std::string &document = (*documents)[next];
                                   next = (next + 1) % documents->size();
                                   // One handle per document, as the exchange uses it.
                                   kel::TagReaderHandle handle;
                                   bool parsed = handle.Parse(document.c_str(),
                                                              static_cast<int>(document.size()));
                                   benchmark::DoNotOptimize(parsed);
                                   bytes += static_cast<std::int64_t>(document.size());
                                 }
                                 state.SetBytesProcessed(bytes);
                               })
      ->Unit(benchmark::kMillisecond)
      ->MinTime(0.3)
      ->Repetitions(5);
}

}  // namespace

int main(int argc, char **argv) {
  // Per shape: the 1 MiB document, its rotated copies, the 16 MiB document.
  std::vector<std::vector<std::string>> sets;
  sets.reserve(3 * std::size(kShapes));
  for (const Shape &shape : kShapes) {
    std::string small = MakeDocument(kMiB, shape.escapes_per_mib);
    std::string large = MakeDocument(16 * kMiB, shape.escapes_per_mib);
    for (const std::string *document : {&small, &large}) {
      // A reader that gets the document wrong is not worth timing.
      kel::TagReaderHandle check;
      if (!check.Parse(document->c_str(), static_cast<int>(document->size())) ||
          check.Get("data") == nullptr) {
        std::fprintf(stderr, "%s: a document does not parse\n", shape.label);
        return EXIT_FAILURE;
      }
    }
    sets.push_back({small});
    sets.push_back(std::vector<std::string>(kRotatedCopies, small));
    sets.push_back({std::move(large)});
    RegisterParse(BenchmarkName(shape, "1MiB"), &sets[sets.size() - 3]);
    RegisterParse(BenchmarkName(shape, "1MiBx16"), &sets[sets.size() - 2]);
    RegisterParse(BenchmarkName(shape, "16MiB"), &sets[sets.size() - 1]);
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return EXIT_FAILURE;
  kel::bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nMedian CPU time per MiB over 5 repetitions, in microseconds:\n");
  std::printf("  %-8s %10s %10s %10s %14s %18s\n", "", "1 MiB", "1 MiB x16", "16 MiB", "ratio 16/1",
              "ratio 16/1 x16");
  for (const Shape &shape : kShapes) {
    double small = reporter.Median(BenchmarkName(shape, "1MiB")) * 1e6;
    double rotated = reporter.Median(BenchmarkName(shape, "1MiBx16")) * 1e6;
    double large = reporter.Median(BenchmarkName(shape, "16MiB")) * 1e6 / 16;
    if (small <= 0 || rotated <= 0 || large <= 0) continue;  // Filtered out.
    std::printf("  %-8s %10.1f %10.1f %10.1f %14.2f %18.2f\n", shape.label, small, rotated, large,
                large / small, large / rotated);
  }
  return EXIT_SUCCESS;
}
