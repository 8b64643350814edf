// The memory peak of one Kel_VerifySeal whose answer is at the size bound
// (16 MiB), for answers of several shapes in both formats. Every allocation
// made on the calling thread while the export runs is counted by replacing
// malloc and its relatives in this program (glibc's own functions do the
// work), so the figure covers the library, the provider, OpenSSL and
// libcurl, and leaves out the server, which runs on its own thread. The goal
// is a peak of at most 4 times the answer's size, whatever its shape.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "api/messages.h"
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
const char kDocument[] = "";
const char kFramed[] = "x?format=framed";

// What the server is given to answer with: the seal's description and the
// text in front of the outer and inner documents.
struct Content {
  std::string description = "d";
  kel::server::DocumentPadding padding;
};

// `size` bytes of elements "<k123456></k123456>" with distinct names.
std::string TinyElements(std::size_t size) {
  std::string text;
  text.reserve(size);
  char element[32];
  for (std::size_t i = 0; text.size() + 19 <= size; ++i) {
    std::snprintf(element, sizeof element, "<k%06zu></k%06zu>", i % 1000000, i % 1000000);
    text += element;
  }
  return text;
}

// An answer shape: the content that puts about `size` bytes of it into the
// answer.
struct Shape {
  const char *label;
  const char *query;
  Content (*make)(std::size_t size);
  bool refused = false;  // the library must refuse it as a bad format
};

// A framed answer carries no tag-value document: its signed content is
// opaque to the library, so only its size matters and one shape covers it.
// Document answers are read by the tag reader twice, outer and inner.
const Shape kShapes[] = {
    {"one large field", kDocument,
     [](std::size_t size) {
       return Content{std::string(size, 'd'), {}};
     }},
    {"one large field", kFramed,
     [](std::size_t size) {
       return Content{std::string(size, 'd'), {}};
     }},
    {"tiny elements, outer", kDocument,
     [](std::size_t size) {
       return Content{"d", {TinyElements(size), ""}};
     }},
    {"tiny elements, inner", kDocument,
     [](std::size_t size) {
       return Content{"d", {"", TinyElements(size)}};
     }},
    // The shortest element there is, an empty name with an empty value,
    // again and again: the most elements that a text of this size holds.
    {"<></> repeated, outer", kDocument,
     [](std::size_t size) {
       std::string text;
       text.reserve(size);
       while (text.size() + 5 <= size) text += "<></>";
       return Content{"d", {std::move(text), ""}};
     }},
    {"escapes only, outer", kDocument,
     [](std::size_t size) {
       std::string text = "<e>";
       text.reserve(size);
       while (text.size() + 4 + 4 <= size) text += "_<_>";
       return Content{"d", {text + "</e>", ""}};
     }},
    // Every byte of the description is escaped in the inner document.
    {"escapes only, inner", kDocument,
     [](std::size_t size) {
       std::string description(size, '<');
       for (std::size_t i = 1; i < size; i += 2) description[i] = '>';
       return Content{std::move(description), {}};
     }},
    // "order" names the signed fields again and again. Twice stays within
    // the signed-data bound (2 bytes per answer byte) and verifies; 40,000
    // times a 1000-byte description is far beyond it and is refused before
    // the signed data is built.
    {"order twice", kDocument,
     [](std::size_t size) {
       Content content{std::string(size, 'd'), {}};
       content.padding.order_repeats = 2;
       return content;
     }},
    {"order bomb", kDocument,
     [](std::size_t size) {
       Content content{std::string(1000, 'd'), {"", TinyElements(size)}};
       content.padding.order_repeats = 40000;
       return content;
     },
     true},
};

std::unique_ptr<kel::server::SealServer> StartServer(const Content &content) {
  kel::server::SealServerOptions options;
  options.keys.framed_pem = kel::test::FixtureFile("dev-only-document-server-key.pem");
  options.keys.document_pem = options.keys.framed_pem;
  options.registry.Add("S-1", {"Acme", "0", content.description});
  options.document_padding = content.padding;
  auto server = std::make_unique<kel::server::SealServer>(options);
  if (!server->Start()) return nullptr;
  return server;
}

std::size_t AnswerSize(const Shape &shape, std::size_t size) {
  auto server = StartServer(shape.make(size));
  if (server == nullptr) return 0;
  return kel::bench::Post(server->url() + shape.query, kel::bench::VerifySealBody(kKey)).size();
}

// The content whose answer just fits the bound. The answer grows linearly
// with the shape's size (by 4/3 of it inside the encrypted document), so
// two probes give the rate.
bool FittingContent(const Shape &shape, Content *content) {
  const std::size_t probe = 1 << 20;
  std::size_t small = AnswerSize(shape, probe);
  std::size_t large = AnswerSize(shape, 2 * probe);
  if (small == 0 || large <= small || large > kBound) return false;
  double rate = static_cast<double>(large - small) / static_cast<double>(probe);
  std::size_t room = static_cast<std::size_t>(static_cast<double>(kBound - large) / rate);
  *content = shape.make(2 * probe + room - 1024);
  return true;
}

bool Measure(const Shape &shape) {
  const char *format = shape.query == kFramed ? "framed" : "document";
  Content content;
  std::unique_ptr<kel::server::SealServer> server;
  if (!FittingContent(shape, &content) || (server = StartServer(content)) == nullptr) {
    std::fprintf(stderr, "%s, %s: cannot make an answer at the bound\n", shape.label, format);
    return false;
  }
  const std::string url = server->url() + shape.query;
  const std::size_t answer = kel::bench::Post(url, kel::bench::VerifySealBody(kKey)).size();
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
  bool as_expected = shape.refused
                         ? result == 1 && kel.LastError() == kel::msg::kBadAnswerFormat
                         : result == 0 && status == 0 && read_back == content.description.size();
  if (!as_expected || answer > kBound) {
    std::fprintf(stderr, "%s, %s: the exchange failed (%d)\n", shape.label, format, result);
    return false;
  }
  double ratio = static_cast<double>(peak) / static_cast<double>(answer);
  std::printf("  %-24s %-9s answer %9zu bytes, peak %10lld bytes = %.2f x  (goal <= 4.00)  %s\n",
              shape.label, format, answer, peak, ratio, ratio <= 4.0 ? "met" : "MISSED");
  return ratio <= 4.0;
}

}  // namespace

int main() {
  std::printf("Memory peak of one Kel_VerifySeal with an answer at the size bound (%zu bytes):\n",
              kBound);
  bool met = true;
  for (const Shape &shape : kShapes) met &= Measure(shape);
  return met ? EXIT_SUCCESS : 2;
}
