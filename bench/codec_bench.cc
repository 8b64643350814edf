// Throughput of the base64 and hex exports against the yardsticks they are
// held to, measured in the same run: base64 against OpenSSL's
// EVP_EncodeBlock and EVP_DecodeBlock on 16 MiB and on 1 KiB of random data,
// hex against memcpy of the same 16 MiB. Every figure counts the binary side
// (the bytes encoded, the bytes decoded), so the ratios compare like with
// like; for hex that means 16 MiB of bytes against 32 MiB of text.
// Base64 is also printed against memcpy: those four "vs memcpy" lines are the
// ones that bench/windows/codec_bench_windows.cc prints for Kel.dll.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kel/kel.h"
#include "median_reporter.h"

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = kKiB * kKiB;

struct Data {
  std::vector<unsigned char> bytes;
  std::string base64;  // the bytes encoded
  std::string hex;     // the bytes as hex
};

Data MakeData(std::size_t size) {
  Data data;
  std::mt19937_64 random(size);
  data.bytes.resize(size);
  for (auto &byte : data.bytes) byte = static_cast<unsigned char>(random());
  data.base64.resize(4 * ((size + 2) / 3) + 1);
  Kel_to64frombits(data.base64.data(), data.bytes.data(), static_cast<int>(size));
  data.base64.resize(data.base64.size() - 1);
  data.hex.resize(2 * size + 1);
  Kel_BinToHex(data.bytes.data(), data.hex.data(), static_cast<unsigned>(size));
  data.hex.resize(2 * size);
  return data;
}

// Each benchmark runs `step` once per iteration over `data` and counts the
// data's binary size as processed.
template <typename Step>
void Register(const std::string &name, const Data *data, Step step) {
  benchmark::RegisterBenchmark(
      name.c_str(),
      [data, step](benchmark::State &state) {
        std::vector<unsigned char> out(2 * data->bytes.size() + 16);
        for (auto _ : state) {
          step(*data, out.data());
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                                static_cast<std::int64_t>(data->bytes.size()));
      })
      ->MinTime(0.2)
      ->Repetitions(5);
}

void RegisterSize(const char *size_label, const Data *data) {
  const std::string suffix = std::string("/") + size_label;
  const int count = static_cast<int>(data->bytes.size());
  Register("base64_encode/Kel" + suffix, data, [count](const Data &d, unsigned char *out) {
    Kel_to64frombits(reinterpret_cast<char *>(out), d.bytes.data(), count);
  });
  Register("base64_encode/OpenSSL" + suffix, data, [count](const Data &d, unsigned char *out) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out, d.bytes.data(), count));
  });
  Register("base64_decode/Kel" + suffix, data, [](const Data &d, unsigned char *out) {
    benchmark::DoNotOptimize(Kel_from64tobits(out, d.base64.c_str(), 0));
  });
  Register("base64_decode/OpenSSL" + suffix, data, [](const Data &d, unsigned char *out) {
    benchmark::DoNotOptimize(
        EVP_DecodeBlock(out, reinterpret_cast<const unsigned char *>(d.base64.data()),
                        static_cast<int>(d.base64.size())));
  });
}

void RegisterHex(const Data *data) {
  const auto count = static_cast<unsigned>(data->bytes.size());
  Register("hex_encode/Kel/16MiB", data, [count](const Data &d, unsigned char *out) {
    Kel_BinToHex(d.bytes.data(), reinterpret_cast<char *>(out), count);
  });
  Register("hex_decode/Kel/16MiB", data, [count](const Data &d, unsigned char *out) {
    Kel_HexToBin(out, d.hex.data(), 2 * count);
  });
  Register("memcpy/16MiB", data,
           [count](const Data &d, unsigned char *out) { std::memcpy(out, d.bytes.data(), count); });
}

// One line of the summary: the throughput ratio of `ours` to `theirs`
// (their time over ours) against its goal; a goal of 0 prints the ratio
// alone.
bool Compare(const kel::bench::MedianReporter &reporter, const char *label, const std::string &ours,
             const std::string &theirs, double goal) {
  double ours_time = reporter.Median(ours);
  double theirs_time = reporter.Median(theirs);
  if (ours_time <= 0 || theirs_time <= 0) return true;  // filtered out
  double ratio = theirs_time / ours_time;
  if (goal <= 0) {
    std::printf("  %-34s %8.2f\n", label, ratio);
    return true;
  }
  bool met = ratio >= goal;
  std::printf("  %-34s %8.2f  (goal >= %.2f)  %s\n", label, ratio, goal, met ? "met" : "MISSED");
  return met;
}

}  // namespace

int main(int argc, char **argv) {
  const Data large = MakeData(16 * kMiB);
  const Data small = MakeData(kKiB);
  RegisterSize("16MiB", &large);
  RegisterSize("1KiB", &small);
  RegisterHex(&large);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return EXIT_FAILURE;
  kel::bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThroughput ratios (median CPU time of 5 repetitions, same run):\n");
  bool met = true;
  met &= Compare(reporter, "base64 encode 16 MiB vs OpenSSL", "base64_encode/Kel/16MiB",
                 "base64_encode/OpenSSL/16MiB", 2.0);
  met &= Compare(reporter, "base64 decode 16 MiB vs OpenSSL", "base64_decode/Kel/16MiB",
                 "base64_decode/OpenSSL/16MiB", 1.5);
  met &= Compare(reporter, "base64 encode 1 KiB vs OpenSSL", "base64_encode/Kel/1KiB",
                 "base64_encode/OpenSSL/1KiB", 1.0);
  met &= Compare(reporter, "base64 decode 1 KiB vs OpenSSL", "base64_decode/Kel/1KiB",
                 "base64_decode/OpenSSL/1KiB", 1.0);
  met &= Compare(reporter, "base64 encode 16 MiB vs memcpy", "base64_encode/Kel/16MiB",
                 "memcpy/16MiB", 0);
  met &= Compare(reporter, "base64 decode 16 MiB vs memcpy", "base64_decode/Kel/16MiB",
                 "memcpy/16MiB", 0);
  met &= Compare(reporter, "hex encode 16 MiB vs memcpy", "hex_encode/Kel/16MiB", "memcpy/16MiB",
                 0.15);
  met &= Compare(reporter, "hex decode 16 MiB vs memcpy", "hex_decode/Kel/16MiB", "memcpy/16MiB",
                 0.15);
  if (double copy = reporter.Median("memcpy/16MiB"); copy > 0) {
    std::printf("  (memcpy of 16 MiB: %.2f ms)\n", 1e3 * copy);
  }
  return met ? EXIT_SUCCESS : 2;
}
