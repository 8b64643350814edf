// The decoding of server answers (framed and document) with the real
// provider and a fixed response key.
//
// An input is either a raw body (first byte even) or a template (first byte
// odd) that lets the fuzzer reach past decryption and signature checks:
//
//   template  = outer [ '\x01' inner ]
//   inner     the plaintext; "$S" in it becomes a valid document signature
//             over the empty text, "$F" a valid framed signature over it
//   outer     the body; "$E" in it becomes the inner text encrypted under the
//             response key, "$L" that ciphertext's length as 8 digits
//
// so "<data>$E</data>\x01<sign>$S</sign><order>none</order><status>0</status>"
// is an answer that verifies, and "QORVENVELDIRENCTAG$L$E\x01QORVENVELDIRENCTAG
// 00000XXX$F" a framed one (with the signature length filled in by hand).
//
// A template whose body would be longer than kMaxBody is passed over: the
// memory limits that scripts/fuzz.sh sets for this target are sized from
// that bound, so that they bound what the library takes for one answer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "kestro/kestro.h"
#include "module/module_app.h"
#include "seal/secure_exchange.h"

namespace {

const std::string kKey = "0123456789abcdef";
constexpr std::size_t kMaxBody = std::size_t{1} << 20;

std::string ReadFile(const std::string &path) {
  std::string content;
  if (FILE *file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    std::fclose(file);
  }
  return content;
}

std::string TakeProviderText(char *text) {
  std::string copy = text != nullptr ? text : "";
  void *buffer = text;
  Ecc_Free(&buffer);
  return copy;
}

std::string SignEmpty(const char *key_file) {
  std::string pem = ReadFile(std::string(KEL_FIXTURES_DIR) + "/" + key_file);
  return TakeProviderText(
      ECDSA_Sign_CH(pem.c_str(), "sha512", reinterpret_cast<const unsigned char *>(""), 0));
}

// Replaces every `from` in `text` by `to`; false, leaving `text` as it was,
// when the result would be longer than kMaxBody. The result is built in a
// block of its exact size: a replacement in place grows the block by
// doubling, which would blur the memory limits.
bool ReplaceAll(std::string *text, const std::string &from, const std::string &to) {
  std::size_t count = 0;
  for (std::size_t at = text->find(from); at != std::string::npos;
       at = text->find(from, at + from.size())) {
    ++count;
  }
  if (count == 0) return true;
  std::size_t kept = text->size() - count * from.size();
  if (to.size() > (kMaxBody - std::min(kept, kMaxBody)) / count) return false;
  std::string result;
  result.reserve(kept + count * to.size());
  std::size_t from_here = 0;
  for (std::size_t at = text->find(from); at != std::string::npos;
       at = text->find(from, at + from.size())) {
    result.append(*text, from_here, at - from_here).append(to);
    from_here = at + from.size();
  }
  result.append(*text, from_here, std::string::npos);
  text->swap(result);
  return true;
}

struct Fixture {
  std::string document_signature = SignEmpty("dev-only-document-server-key.pem");
  std::string framed_signature = SignEmpty("dev-only-document-server-key.pem");
  Fixture() {
    kel::TheModuleApp().LoadServerKey(KEL_FIXTURES_DIR "/dev-only-document-server-key.pub");
  }
};

// The body that `input` describes; false when it would exceed kMaxBody.
bool BodyFromTemplate(const Fixture &fixture, const std::string &input, std::string *body) {
  std::size_t split = input.find('\x01');
  std::string outer = input.substr(0, split);
  std::string inner = split == std::string::npos ? std::string() : input.substr(split + 1);
  if (!ReplaceAll(&inner, "$S", fixture.document_signature) ||
      !ReplaceAll(&inner, "$F", fixture.framed_signature)) {
    return false;
  }
  std::string cipher = TakeProviderText(AES_Encryption_CH(kKey.c_str(), inner.c_str()));
  char length[16];
  std::snprintf(length, sizeof length, "%08zu", cipher.size() % 100000000);
  if (!ReplaceAll(&outer, "$L", length) || !ReplaceAll(&outer, "$E", cipher)) return false;
  body->swap(outer);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const Fixture fixture;
  if (size == 0) return 0;
  std::string body(reinterpret_cast<const char *>(data + 1), size - 1);
  if ((data[0] & 1) != 0 && !BodyFromTemplate(fixture, std::string(body), &body)) return -1;
  (void)kel::DecodeAnswer(body, kKey.c_str());
  return 0;
}
