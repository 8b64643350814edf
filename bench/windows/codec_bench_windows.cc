// Throughput of the codec exports of Kel.dll, loaded with LoadLibraryA as a
// host loads it, each as a ratio to memcpy of the same binary size in the
// same process: base64 and hex, encode and decode, on 16 MiB of random bytes.
// The figures and their labels match the "vs memcpy" lines of
// bench/codec_bench.cc, so that the shipped 32-bit DLL can be compared with
// the Linux build.
//
// Each figure is timed with QueryPerformanceCounter over batches of calls
// long enough to dwarf the timer; the batches of all five measurements are
// interleaved round by round, so that a busy spell on the machine slows each
// of them alike, and the median of the rounds is kept.
//
// Usage: kel_codec_bench_windows [KEL_DLL]   (default: Kel.dll beside it)
// Exit code 0 after printing the figures, 1 when the library cannot be
// loaded or converts wrongly.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kel/kel.h"

namespace {

constexpr std::size_t kSize = std::size_t{16} << 20;
constexpr int kRounds = 7;
constexpr double kBatchSeconds = 0.2;

struct Codecs {
  decltype(&::Kel_to64frombits) to64frombits = nullptr;
  decltype(&::Kel_from64tobits) from64tobits = nullptr;
  decltype(&::Kel_BinToHex) BinToHex = nullptr;
  decltype(&::Kel_HexToBin) HexToBin = nullptr;
};

template <typename Function>
bool Resolve(HMODULE module, const char *name, Function *function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  return *function != nullptr;
}

double Seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) / frequency;
}

// Tells the compiler that `p` and everything it points to were read and
// written, so that no call that fills a buffer is dropped or merged.
inline void Clobber(void *p) { asm volatile("" : : "r"(p) : "memory"); }

struct Measurement {
  Measurement(const char *label, std::function<void()> call) : name(label), step(std::move(call)) {}

  const char *name;
  std::function<void()> step;
  long batch = 1;                // calls per timed batch
  std::vector<double> per_call;  // seconds per call, one per round

  double Median() const {
    std::vector<double> sorted = per_call;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

double TimeBatch(const Measurement &m) {
  double start = Seconds();
  for (long i = 0; i < m.batch; ++i) m.step();
  return Seconds() - start;
}

// Enough calls per batch to last kBatchSeconds, from one warm call's time.
void Calibrate(Measurement *m) {
  m->batch = 1;
  TimeBatch(*m);  // faults in the pages and warms the caches
  double once = std::max(TimeBatch(*m), 1e-6);
  m->batch = std::max(1L, static_cast<long>(kBatchSeconds / once + 0.5));
}

}  // namespace

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "Kel.dll";
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) {
    std::printf("cannot load %s (error %lu)\n", path, GetLastError());
    return 1;
  }
  Codecs kel;
  if (!Resolve(module, "Kel_to64frombits", &kel.to64frombits) ||
      !Resolve(module, "Kel_from64tobits", &kel.from64tobits) ||
      !Resolve(module, "Kel_BinToHex", &kel.BinToHex) ||
      !Resolve(module, "Kel_HexToBin", &kel.HexToBin)) {
    std::printf("%s lacks a codec export\n", path);
    return 1;
  }

  // The same bytes as the Linux benchmark draws.
  std::vector<unsigned char> bytes(kSize);
  std::mt19937_64 random(kSize);
  for (auto &byte : bytes) byte = static_cast<unsigned char>(random());
  std::string base64(4 * ((kSize + 2) / 3) + 1, '\0');
  kel.to64frombits(&base64[0], bytes.data(), static_cast<int>(kSize));
  std::string hex(2 * kSize + 1, '\0');
  kel.BinToHex(bytes.data(), &hex[0], static_cast<unsigned>(kSize));
  std::vector<unsigned char> out(2 * kSize + 16);

  // A wrong conversion would time some other path than the one measured.
  if (kel.from64tobits(out.data(), base64.c_str(), 0) != static_cast<int>(kSize) ||
      std::memcmp(out.data(), bytes.data(), kSize) != 0) {
    std::printf("base64 does not round-trip\n");
    return 1;
  }
  std::fill(out.begin(), out.end(), 0);
  kel.HexToBin(out.data(), hex.c_str(), static_cast<unsigned>(2 * kSize));
  if (std::memcmp(out.data(), bytes.data(), kSize) != 0) {
    std::printf("hex does not round-trip\n");
    return 1;
  }

  unsigned char *sink = out.data();
  const unsigned char *in = bytes.data();
  std::vector<Measurement> measurements = {
      {"memcpy",
       [&] {
         std::memcpy(sink, in, kSize);
         Clobber(sink);
       }},
      {"base64 encode 16 MiB vs memcpy",
       [&] {
         kel.to64frombits(reinterpret_cast<char *>(sink), in, static_cast<int>(kSize));
         Clobber(sink);
       }},
      {"base64 decode 16 MiB vs memcpy",
       [&] {
         kel.from64tobits(sink, base64.c_str(), 0);
         Clobber(sink);
       }},
      {"hex encode 16 MiB vs memcpy",
       [&] {
         kel.BinToHex(in, reinterpret_cast<char *>(sink), static_cast<unsigned>(kSize));
         Clobber(sink);
       }},
      {"hex decode 16 MiB vs memcpy",
       [&] {
         kel.HexToBin(sink, hex.c_str(), static_cast<unsigned>(2 * kSize));
         Clobber(sink);
       }},
  };
  for (auto &m : measurements) Calibrate(&m);
  for (int round = 0; round < kRounds; ++round) {
    for (auto &m : measurements) m.per_call.push_back(TimeBatch(m) / static_cast<double>(m.batch));
  }

  const double copy = measurements[0].Median();
  std::printf(
      "Throughput ratios (median wall time of %d rounds, QueryPerformanceCounter, %d-bit):\n",
      kRounds, static_cast<int>(8 * sizeof(void *)));
  for (std::size_t i = 1; i < measurements.size(); ++i) {
    std::printf("  %-34s %8.2f\n", measurements[i].name, copy / measurements[i].Median());
  }
  std::printf("  (memcpy of 16 MiB: %.2f ms)\n", 1e3 * copy);
  return 0;
}
