// One Kel_VerifySeal against the reference server on loopback, against the
// work that no client can avoid, measured in the same run: a bare libcurl
// POST of the same body to the same server, one AES_Decryption_CH of the
// answer's data and one ECDSA_Verify_CH of its signature. The goal is at
// most 1.15 times. Wall time: the server's side of the exchange counts.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "exchange_support.h"
#include "kestro/kestro.h"
#include "median_reporter.h"

namespace {

const std::string kKey = "0123456789abcdef";

}  // namespace

int main(int argc, char **argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  auto server = kel::bench::StartServer("valid seal");
  if (server == nullptr) {
    std::fprintf(stderr, "the seal server did not start\n");
    return EXIT_FAILURE;
  }
  const std::string url = server->url();
  const std::string public_key = kel::test::FixtureFile("dev-only-document-server-key.pub");
  kel::test::LoadedKel kel(public_key);

  // The answer to the bare POST, taken apart once: what the irreducible work
  // decrypts and verifies on every iteration.
  const std::string body = kel::bench::VerifySealBody(kKey);
  const std::string answer = kel::bench::Post(url, body);
  const std::string data = kel::bench::Element(answer, "data");
  char *inner_text = AES_Decryption_CH(kKey.c_str(), data.c_str());
  const std::string inner = inner_text != nullptr ? inner_text : "";
  void *inner_buffer = inner_text;
  Ecc_Free(&inner_buffer);
  const std::string sign = kel::bench::Element(inner, "sign");
  const std::string signed_data =
      kel::bench::Element(inner, "status") + kel::bench::Element(inner, "desc");
  int status = -1;
  if (kel.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status) != 0 || status != 0 ||
      sign.empty() ||
      ECDSA_Verify_CH(public_key.c_str(),
                      reinterpret_cast<const unsigned char *>(signed_data.data()),
                      static_cast<int>(signed_data.size()), sign.c_str()) != 1) {
    std::fprintf(stderr, "the exchange does not work: %s\n", kel.LastError().c_str());
    return EXIT_FAILURE;
  }

  benchmark::RegisterBenchmark(
      "exchange/Kel_VerifySeal",
      [&](benchmark::State &state) {
        for (auto _ : state) {
          int verdict = -1;
          benchmark::DoNotOptimize(kel.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &verdict));
        }
      })
      ->UseRealTime()
      ->MinTime(0.5)
      ->Repetitions(5);
  benchmark::RegisterBenchmark(
      "exchange/irreducible",
      [&](benchmark::State &state) {
        for (auto _ : state) {
          std::string got = kel::bench::Post(url, body);
          benchmark::DoNotOptimize(got.data());
          void *plain = AES_Decryption_CH(kKey.c_str(), data.c_str());
          Ecc_Free(&plain);
          benchmark::DoNotOptimize(ECDSA_Verify_CH(
              public_key.c_str(), reinterpret_cast<const unsigned char *>(signed_data.data()),
              static_cast<int>(signed_data.size()), sign.c_str()));
        }
      })
      ->UseRealTime()
      ->MinTime(0.5)
      ->Repetitions(5);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return EXIT_FAILURE;
  kel::bench::MedianReporter reporter(/*wall=*/true);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  server->Stop();

  double ours = reporter.Median("exchange/Kel_VerifySeal");
  double floor = reporter.Median("exchange/irreducible");
  if (ours <= 0 || floor <= 0) return EXIT_SUCCESS;
  double ratio = ours / floor;
  std::printf("\nMedian wall time of 5 repetitions, same run:\n");
  std::printf("  Kel_VerifySeal %.0f us, irreducible work %.0f us\n", ours * 1e6, floor * 1e6);
  std::printf("  %-34s %8.2f  (goal <= 1.15)  %s\n", "exchange cost vs irreducible", ratio,
              ratio <= 1.15 ? "met" : "MISSED");
  return ratio <= 1.15 ? EXIT_SUCCESS : 2;
}
