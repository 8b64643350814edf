// Every export with its allocations made to fail: run n fails the n-th
// allocation of the calling thread (alone, or with every one after it, as
// when memory has run out), for n = 1, 2, ... until a run makes fewer
// allocations than n. Each run must end in the export's success result or in
// its failure result with one of its messages; an exception that crossed the
// export would end the program, and a leak fails it under LeakSanitizer.
//
// This program replaces the global operator new for itself, and wraps the
// library's calls to calloc. The reference
// server runs on its own threads, which the counter does not see.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/last_error.h"
#include "api/messages.h"
#include "crypto/provider.h"
#include "e2e/seal_server_fixture.h"
#include "kel/kel.h"
#include "module/module_app.h"

namespace {

// The failure plan of the calling thread; trivial, so that reading it needs
// no initialisation of its own inside operator new.
struct FailurePlan {
  bool armed;
  bool exhausted;  // fail every allocation from the n-th on
  long long fail_at;
  long long seen;
  bool injected;
};
thread_local FailurePlan plan;

bool InjectFailure() {
  if (!plan.armed) return false;
  ++plan.seen;
  if (plan.seen == plan.fail_at || (plan.exhausted && plan.seen > plan.fail_at)) {
    plan.injected = true;
    return true;
  }
  return false;
}

// Every block starts zeroed, all of it that a later search reads: what a
// block held for an earlier owner (libcurl frees copies of the request, for
// one) can then never be taken for what the library left in it, whatever
// blocks the allocator hands out again. Out of line, so that a fortified
// build does not hold the usable size against the size asked for.
__attribute__((noinline)) void *Zeroed(void *block) noexcept {
  if (block != nullptr) std::memset(block, 0, malloc_usable_size(block));
  return block;
}

void *Allocate(std::size_t size) noexcept {
  if (InjectFailure()) return nullptr;
  return Zeroed(std::malloc(size != 0 ? size : 1));
}

void *AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  if (InjectFailure()) return nullptr;
  void *block = nullptr;
  std::size_t align = static_cast<std::size_t>(alignment);
  if (align < sizeof(void *)) align = sizeof(void *);
  if (posix_memalign(&block, align, size != 0 ? size : 1) != 0) return nullptr;
  return Zeroed(block);
}

void *AllocateOrThrow(std::size_t size) {
  void *block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void *AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void *block = AllocateAligned(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

// Secrets must not go back to the heap unwiped: while a marker is set, every
// block the calling thread releases through operator delete (all of the
// library's own memory) is searched for it first.
thread_local const char *released_marker;
thread_local int released_with_marker;

void Release(void *block) noexcept {
  if (block != nullptr && released_marker != nullptr) {
    const char *begin = static_cast<const char *>(block);
    const char *end = begin + malloc_usable_size(block);
    if (std::search(begin, end, released_marker, released_marker + std::strlen(released_marker)) !=
        end) {
      ++released_with_marker;
    }
  }
  std::free(block);
}

}  // namespace

// The library's own calls to the C allocator (the buffers it hands to the
// host) fail the same way: the program is linked with --wrap for them.
extern "C" void *__real_calloc(std::size_t count, std::size_t size);
extern "C" void *__wrap_calloc(std::size_t count, std::size_t size) {
  if (InjectFailure()) return nullptr;
  return __real_calloc(count, size);
}

void *operator new(std::size_t size) { return AllocateOrThrow(size); }
void *operator new[](std::size_t size) { return AllocateOrThrow(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new(std::size_t size, std::align_val_t a) { return AllocateAlignedOrThrow(size, a); }
void *operator new[](std::size_t size, std::align_val_t a) {
  return AllocateAlignedOrThrow(size, a);
}
void *operator new(std::size_t size, std::align_val_t a, const std::nothrow_t &) noexcept {
  return AllocateAligned(size, a);
}
void *operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t &) noexcept {
  return AllocateAligned(size, a);
}
void operator delete(void *block) noexcept { Release(block); }
void operator delete[](void *block) noexcept { Release(block); }
void operator delete(void *block, std::size_t) noexcept { Release(block); }
void operator delete[](void *block, std::size_t) noexcept { Release(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete[](void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete(void *block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void *block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void *block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void *block, std::align_val_t, const std::nothrow_t &) noexcept {
  std::free(block);
}
void operator delete[](void *block, std::align_val_t, const std::nothrow_t &) noexcept {
  std::free(block);
}

namespace kel::test {
namespace {

enum class Result { kSuccess, kFailure, kOther };

// Calls take no allocation of their own: they keep to C calls and texts
// prepared beforehand, so that the counter sees the export alone; the last
// error is read outside the plan (LastErrorIs).
struct Row {
  const char *name;
  std::function<Result()> call;
  std::vector<const char *> messages;  // one of them after a failure; none: empty text
};

// Reads the last error outside the failure plan: the check is the test's,
// not part of the call under test.
bool LastErrorIs(const char *expected) {
  const bool armed = plan.armed;
  plan.armed = false;
  char *text = Kel_GetLastErr();
  bool same = text != nullptr && std::strcmp(text, expected) == 0;
  Kel_ReleaseBuf(text);
  plan.armed = armed;
  return same;
}

Result Either(bool success, bool failure) {
  return success ? Result::kSuccess : failure ? Result::kFailure : Result::kOther;
}

class ExportAllocFailure : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    WriteFile(*dir_ / "pubkey.key", FixtureFile("dev-only-document-server-key.pub"));
    TheModuleApp().LoadServerKey((*dir_ / "pubkey.key").c_str());
    server::SealServerOptions options = DevServerOptions((*dir_ / "records").string());
    // A description long enough that the texts made from it grow on the heap.
    options.registry.Add("S-L", {"Long Ltd", "0", "valid seal, " + std::string(200, 'd')});
    server_ = new server::SealServer(options);
    ASSERT_TRUE(server_->Start());
    document_url_ = new std::string(server_->url());
    framed_url_ = new std::string(server_->url() + "x?format=framed");

    char *time = nullptr;
    char *signature = nullptr;
    ASSERT_EQ(Kel_GetServerTime(&time, &signature, "doc", document_url_->c_str()), 0);
    stamp_time_ = new std::string(time);
    stamp_signature_ = new std::string(signature);
    Kel_ReleaseBuf(time);
    Kel_ReleaseBuf(signature);

    int length = 0;
    unsigned char *cipher =
        Kel_AESEncryption(reinterpret_cast<const unsigned char *>("abc"), 3, kAesKey, 16, &length);
    ASSERT_NE(cipher, nullptr);
    cipher_ = new std::string(reinterpret_cast<char *>(cipher), static_cast<std::size_t>(length));
    Kel_ReleaseBuf(cipher);
  }

  static void TearDownTestSuite() {
    delete server_;
    TheModuleApp().LoadServerKey((*dir_ / "missing").c_str());
    for (std::string *text : {document_url_, framed_url_, stamp_time_, stamp_signature_, cipher_})
      delete text;
    delete dir_;
  }

  // Runs `row` with n = 1, 2, ... failing until a run sees no failure.
  static void FailEachAllocation(const Row &row, bool exhausted) {
    for (long long n = 1;; ++n) {
      ASSERT_LT(n, 100000) << row.name << ": the runs never end";
      std::string where = std::string(row.name) + (exhausted ? " exhausted" : " once") +
                          " at allocation " + std::to_string(n);
      ClearLastError();  // Kel_VerifyTimeStamp keeps an earlier message
      plan = {true, exhausted, n, 0, false};
      Result result = Result::kOther;
      try {
        result = row.call();
      } catch (...) {
        plan = {};
        FAIL() << where << ": an exception crossed the export";
      }
      bool injected = plan.injected;
      plan = {};
      std::string message = LastErrorText();
      if (!injected) {
        EXPECT_EQ(result, Result::kSuccess) << where;
        return;
      }
      // A failure that the library absorbed on the way still has to give a
      // genuine success.
      if (result == Result::kSuccess) continue;
      EXPECT_EQ(result, Result::kFailure) << where;
      bool known = row.messages.empty() && message.empty();
      for (const char *expected : row.messages) known = known || message == expected;
      EXPECT_TRUE(known) << where << ": message \"" << message << '"';
      if (::testing::Test::HasFailure()) return;
    }
  }

  static constexpr unsigned char kAesKey[17] = "0123456789abcdef";
  static TempDir *dir_;
  static server::SealServer *server_;
  static std::string *document_url_;
  static std::string *framed_url_;
  static std::string *stamp_time_;
  static std::string *stamp_signature_;
  static std::string *cipher_;
};

TempDir *ExportAllocFailure::dir_;
server::SealServer *ExportAllocFailure::server_;
std::string *ExportAllocFailure::document_url_;
std::string *ExportAllocFailure::framed_url_;
std::string *ExportAllocFailure::stamp_time_;
std::string *ExportAllocFailure::stamp_signature_;
std::string *ExportAllocFailure::cipher_;

TEST_F(ExportAllocFailure, EveryExportFailsCleanlyWithItsMessage) {
  const std::vector<const char *> transaction = {msg::kTransactionFailed, msg::kAnswerDecryptFailed,
                                                 msg::kAnswerNotVerified};
  auto send_seal_record = [](const std::string *url) {
    return [url] {
      char *result = nullptr;
      int rc = Kel_SendSealRecord("alice", "S-1", "note", url->c_str(), &result);
      bool recorded = result != nullptr && std::strcmp(result, "0,0,recorded") == 0;
      Kel_ReleaseBuf(result);
      return Either(rc == 0 && recorded, rc == 1 && result == nullptr);
    };
  };
  auto verify_seal = [](const std::string *url) {
    return [url] {
      int status = -1;
      int rc = Kel_VerifySeal(url->c_str(), "Acme", "S-1", "t", 1, &status);
      return Either(rc == 0 && status == 0 && LastErrorIs("valid seal"), rc == 1 && status == 1);
    };
  };
  auto get_server_time = [](const std::string *url) {
    return [url] {
      char *time = nullptr;
      char *signature = nullptr;
      int rc = Kel_GetServerTime(&time, &signature, "doc", url->c_str());
      bool delivered = time != nullptr && std::strlen(time) == 19 && signature != nullptr &&
                       signature[0] != '\0';
      Kel_ReleaseBuf(time);
      Kel_ReleaseBuf(signature);
      return Either(rc == 0 && delivered, rc == 1);
    };
  };
  const Row rows[] = {
      {"Kel_ReleaseBuf",
       [] {
         char *copy = nullptr;
         int rc = Kel_GetCiphertext("x", &copy);
         if (rc == 1 && copy == nullptr) return Result::kFailure;  // no buffer to be had
         if (rc != 0) return Result::kOther;
         return Either(Kel_ReleaseBuf(copy) == 0 && Kel_ReleaseBuf(nullptr) == 1, false);
       },
       {}},
      {"Kel_GetLastErr",
       [] {
         char *text = Kel_GetLastErr();
         bool empty = text != nullptr && text[0] == '\0';
         Kel_ReleaseBuf(text);
         return Either(empty, text == nullptr);
       },
       {}},
      {"Kel_SendSealRecord document", send_seal_record(document_url_), transaction},
      {"Kel_SendSealRecord framed", send_seal_record(framed_url_), transaction},
      {"Kel_VerifySeal document", verify_seal(document_url_), transaction},
      {"Kel_VerifySeal framed", verify_seal(framed_url_), transaction},
      {"Kel_GetServerTime document", get_server_time(document_url_), transaction},
      {"Kel_GetServerTime framed", get_server_time(framed_url_), transaction},
      {"Kel_GetServerTime local clock",
       [] {
         char *time = nullptr;
         int rc = Kel_GetServerTime(&time, nullptr, nullptr, nullptr);
         bool delivered = time != nullptr && std::strlen(time) == 19;
         Kel_ReleaseBuf(time);
         return Either(rc == 0 && delivered, rc == 1 && time == nullptr);
       },
       {msg::kTransactionFailed}},
      {"Kel_VerifyTimeStamp",
       [] {
         int rc = Kel_VerifyTimeStamp("doc", stamp_time_->c_str(), stamp_signature_->c_str());
         return Either(rc == 0, rc == 1);
       },
       {msg::kTimestampVerifyRaised, msg::kTimestampInvalid}},
      {"Kel_to64frombits",
       [] {
         char text[5];
         Kel_to64frombits(text, reinterpret_cast<const unsigned char *>("ABC"), 3);
         return Either(std::strcmp(text, "QUJD") == 0, false);
       },
       {}},
      {"Kel_from64tobits",
       [] {
         unsigned char bytes[4] = {};
         int count = Kel_from64tobits(bytes, "QUJD", 0);
         return Either(count == 3 && std::memcmp(bytes, "ABC", 3) == 0, count == -1);
       },
       {}},
      {"Kel_GetCiphertext",
       [] {
         char *copy = nullptr;
         int rc = Kel_GetCiphertext("abc", &copy);
         bool copied = copy != nullptr && std::strcmp(copy, "abc") == 0;
         Kel_ReleaseBuf(copy);
         return Either(rc == 0 && copied, rc == 1 && copy == nullptr);
       },
       {}},
      {"Kel_BinToHex",
       [] {
         char hex[5];
         int rc = Kel_BinToHex(reinterpret_cast<const unsigned char *>("\x00\xff"), hex, 2);
         return Either(rc == 0 && std::strcmp(hex, "00ff") == 0, rc == 1);
       },
       {}},
      {"Kel_HexToBin",
       [] {
         unsigned char bytes[2] = {};
         int rc = Kel_HexToBin(bytes, "00ff", 4);
         return Either(rc == 0 && bytes[0] == 0 && bytes[1] == 0xFF, rc == 1);
       },
       {}},
      {"Kel_GetRadomString",
       [] {
         char *text = Kel_GetRadomString();
         bool drawn = text != nullptr && std::strlen(text) == 16;
         Kel_ReleaseBuf(text);
         return Either(drawn, text == nullptr);
       },
       {msg::kRandomFailed}},
      {"Kel_AESEncryption",
       [] {
         int length = -1;
         unsigned char *cipher = Kel_AESEncryption(reinterpret_cast<const unsigned char *>("abc"),
                                                   3, kAesKey, 16, &length);
         Kel_ReleaseBuf(cipher);
         return Either(cipher != nullptr && length == 32, cipher == nullptr);
       },
       {msg::kEncryptFailed}},
      {"Kel_AESDecryption",
       [] {
         int length = -1;
         unsigned char *plain =
             Kel_AESDecryption(reinterpret_cast<const unsigned char *>(cipher_->data()),
                               static_cast<int>(cipher_->size()), kAesKey, 16, &length);
         bool same = plain != nullptr && length == 3 && std::memcmp(plain, "abc", 3) == 0;
         Kel_ReleaseBuf(plain);
         return Either(same, plain == nullptr);
       },
       {msg::kDecryptFailed}},
  };
  for (const Row &row : rows) {
    for (bool exhausted : {false, true}) {
      FailEachAllocation(row, exhausted);
      if (HasFailure()) return;
    }
  }
}

// A provider whose response keys are a known text, so that released memory
// can be searched for it.
constexpr char kMarkedKey[] = "KEYmarkerKEYmark";
int KESTRO_CALL MarkedKey(char *buffer, int count) {
  std::memcpy(buffer, kMarkedKey, static_cast<std::size_t>(count));
  return 0;
}

// Every way an exchange can go, success and each failure: no block the
// library gives back holds the response key or any decrypted text.
TEST_F(ExportAllocFailure, NoResponseKeyOrPlaintextIsReleasedUnwiped) {
  const crypto::Provider marked = {MarkedKey,         AES_Encryption,  AES_Decryption,
                                   AES_Decryption_CH, ECDSA_Verify_CH, Ecc_Free};
  crypto::SetProviderForTesting(&marked);
  const std::string base = server_->url() + "x?";
  RefusingPort refusing;
  const std::string closed = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x";
  const std::string paths[] = {
      *document_url_,
      *framed_url_,
      "http://127.0.0.1:80a/x",  // a port that names no server: nothing is sent
      closed,
      base + "fault=undecryptable-data",
      base + "fault=inner-not-document",
      base + "fault=bad-signature",
      base + "fault=no-status-or-date",
      base + "format=framed&fault=frame-undecryptable",
      base + "format=framed&fault=frame-bad-signature",
      base + "format=framed&fault=frame-no-inner-tag",
      base + "format=framed&fault=frame-negative-signature-length",
      base + "format=framed&fault=frame-long-signature-length",
  };
  // The key; a tag only the decrypted inner document holds; the seal's
  // description, which only decrypted texts hold.
  for (const char *marker : {kMarkedKey, "</order>", "valid seal"}) {
    for (const std::string &url : paths) {
      released_with_marker = 0;
      released_marker = marker;
      int status = -1;
      Kel_VerifySeal(url.c_str(), "Acme", "S-1", "t", 1, &status);
      Kel_VerifySeal(url.c_str(), "Long Ltd", "S-L", "t", 1, &status);
      char *result = nullptr;
      Kel_SendSealRecord("alice", "S-1", "r", url.c_str(), &result);
      char *time = nullptr;
      char *signature = nullptr;
      Kel_GetServerTime(&time, &signature, "c", url.c_str());
      ClearLastError();  // the description goes, wiped
      released_marker = nullptr;
      EXPECT_EQ(released_with_marker, 0) << marker << " in " << url;
      for (char *buffer : {result, time, signature}) Kel_ReleaseBuf(buffer);
    }
  }
  crypto::SetProviderForTesting(nullptr);
}

}  // namespace
}  // namespace kel::test
