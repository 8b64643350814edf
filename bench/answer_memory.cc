// The memory peak of one Kel_VerifySeal whose answer is at the size bound
// (16 MiB), in both answer formats. Every allocation made on the calling
// thread while the export runs is counted by replacing malloc and its
// relatives in this program (glibc's own functions do the work), so the
// figure covers the library, the provider, OpenSSL and libcurl, and leaves
// out the server, which runs on its own thread. The goal is a peak of at
// most 4 times the answer's size.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "exchange_support.h"
#include "net/body_accumulator.h"

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace {

thread_local bool t_counting = false;
long long g_live = 0;  // bytes, on the counting thread
long long g_peak = 0;

void Counted(void *block) {
  if (!t_counting || block == nullptr) return;
  g_live += static_cast<long long>(malloc_usable_size(block));
  if (g_live > g_peak) g_peak = g_live;
}

void Uncounted(void *block) {
  if (t_counting && block != nullptr) g_live -= static_cast<long long>(malloc_usable_size(block));
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
  void *block = __libc_malloc(size);
  Counted(block);
  return block;
}
void *calloc(size_t count, size_t size) {
  void *block = __libc_calloc(count, size);
  Counted(block);
  return block;
}
void *realloc(void *block, size_t size) {
  Uncounted(block);
  void *moved = __libc_realloc(block, size);
  Counted(moved != nullptr ? moved : (size != 0 ? block : nullptr));
  return moved;
}
void free(void *block) {
  Uncounted(block);
  __libc_free(block);
}
void *memalign(size_t alignment, size_t size) {
  void *block = __libc_memalign(alignment, size);
  Counted(block);
  return block;
}
void *aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void **out, size_t alignment, size_t size) {
  void *block = memalign(alignment, size);
  if (block == nullptr) return 12;  // ENOMEM
  *out = block;
  return 0;
}

}  // extern "C"

namespace {

constexpr std::size_t kBound = kel::BodyAccumulator::kMaxAnswerBytes;
const std::string kKey = "0123456789abcdef";

std::size_t AnswerSize(const std::string &url) {
  return kel::bench::Post(url, kel::bench::VerifySealBody(kKey)).size();
}

// A description that makes the answer in `format` just fit the bound: the
// answer grows by 4/3 of the description (base64 of the ciphertext).
std::string FittingDescription(const char *query) {
  const std::size_t probe = 1 << 20;
  auto server = kel::bench::StartServer(std::string(probe, 'd'));
  if (server == nullptr) return std::string();
  std::size_t size = AnswerSize(server->url() + query);
  server->Stop();
  if (size == 0 || size > kBound) return std::string();
  std::size_t room = (kBound - size) / 4 * 3;
  return std::string(probe + room - 1024, 'd');
}

bool Measure(const char *label, const char *query) {
  std::string description = FittingDescription(query);
  auto server = kel::bench::StartServer(description);
  if (description.empty() || server == nullptr) {
    std::fprintf(stderr, "%s: cannot make an answer at the bound\n", label);
    return false;
  }
  const std::string url = server->url() + query;
  const std::size_t answer = AnswerSize(url);
  kel::test::LoadedKel kel(kel::test::FixtureFile("dev-only-document-server-key.pub"));

  int status = -1;
  g_live = 0;
  g_peak = 0;
  t_counting = true;
  int result = kel.VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status);
  t_counting = false;
  long long peak = g_peak;
  // The description came back through the last-error text: the whole
  // answer was read, decrypted and verified.
  std::size_t read_back = kel.LastError().size();
  server->Stop();
  if (result != 0 || status != 0 || read_back != description.size()) {
    std::fprintf(stderr, "%s: the exchange failed (%d)\n", label, result);
    return false;
  }
  double ratio = static_cast<double>(peak) / static_cast<double>(answer);
  std::printf(
      "  %-9s answer %9zu bytes (bound %zu), peak %10lld bytes = %.2f x  "
      "(goal <= 4.00)  %s\n",
      label, answer, kBound, peak, ratio, ratio <= 4.0 ? "met" : "MISSED");
  return ratio <= 4.0;
}

}  // namespace

int main() {
  std::printf("Memory peak of one Kel_VerifySeal with an answer at the size bound:\n");
  bool met = Measure("document", "");
  met &= Measure("framed", "x?format=framed");
  return met ? EXIT_SUCCESS : 2;
}
