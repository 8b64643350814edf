// The framed answer:
//
//   body:      ... TAG  LLLLLLLL  payload(L characters)  ignored
//   payload decrypts to:
//              ... TAG  SSSSSSSS  signature(S characters)  signed content
//
// Both length fields are the 8 characters behind the tag, read like atoi. A
// payload length that is negative or reaches past the text takes the rest of
// the text. A signature length that does so leaves no usable frame.
#include <cstring>
#include <string_view>
#include <utility>

#include "api/last_error.h"
#include "api/messages.h"
#include "api/secure_wipe.h"
#include "crypto/built_in_server_key.h"
#include "crypto/provider.h"
#include "seal/decimal.h"
#include "seal/secure_exchange.h"

namespace kel {
namespace {

constexpr std::size_t kLengthFieldSize = 8;
constexpr std::size_t kFrameHeaderSize = kResponseFrameTagLength + kLengthFieldSize;

// The length field behind the tag at `tag_position`; false when the text
// ends before the field does.
bool ReadLengthField(std::string_view text, std::size_t tag_position, std::int64_t *length) {
  if (text.size() < tag_position + kFrameHeaderSize) return false;
  const char *field = text.data() + tag_position + kResponseFrameTagLength;
  *length = ReadDecimal(field, field + kLengthFieldSize);
  return true;
}

}  // namespace

std::string DecodeFramedAnswer(const std::string &body, std::size_t tag_position,
                               const std::string &response_key, std::string *signature) {
  // The body is a text: it ends at its first zero byte. Answers may be
  // large, so the body is read in place rather than copied.
  const std::string_view text(body.c_str());
  std::int64_t payload_length = 0;
  if (!ReadLengthField(text, tag_position, &payload_length)) {
    ReportError(msg::kBadAnswerFormat);
    return std::string();
  }
  std::size_t payload_start = tag_position + kFrameHeaderSize;
  std::size_t available = text.size() - payload_start;
  std::size_t taken = payload_length < 0 || static_cast<std::uint64_t>(payload_length) > available
                          ? available
                          : static_cast<std::size_t>(payload_length);
  // A payload that runs to the end of the text is already zero-terminated
  // there; only a payload with text behind it needs a copy of its own.
  std::string payload_copy;
  const char *payload = body.c_str() + payload_start;
  if (taken < available) {
    payload_copy.assign(payload, taken);
    payload = payload_copy.c_str();
  }

  std::string plaintext;
  if (crypto::DecryptText(response_key.c_str(), payload, &plaintext) != crypto::Outcome::kOk) {
    ReportError(msg::kAnswerDecryptFailed);
    return std::string();
  }

  std::size_t block = plaintext.find(kResponseFrameTag);
  std::int64_t signature_length = 0;
  if (block == std::string::npos || !ReadLengthField(plaintext, block, &signature_length)) {
    ReportError(msg::kBadAnswerFormat);
    return std::string();
  }
  std::size_t signature_start = block + kFrameHeaderSize;
  if (signature_length < 0 ||
      static_cast<std::uint64_t>(signature_length) > plaintext.size() - signature_start) {
    ReportError(msg::kBadAnswerFormat);
    return std::string();
  }
  // The carried signature is handed out before the check, also when it fails.
  auto length = static_cast<std::size_t>(signature_length);
  *signature = plaintext.substr(signature_start, length);
  // What follows the signature is the content; it keeps the plaintext's
  // block. What goes before it is wiped, not just moved over.
  WipeBytes(&plaintext[0], signature_start + length);
  plaintext.erase(0, signature_start + length);
  std::string content = std::move(plaintext);

  switch (crypto::VerifySignature(kBuiltInServerKey, content.data(), content.size(),
                                  signature->c_str())) {
    case crypto::Outcome::kOk:
      return content;
    case crypto::Outcome::kRaised:
      ReportError(msg::kAnswerVerifyRaised);
      return std::string();
    default:
      ReportError(msg::kAnswerNotVerified);
      return std::string();
  }
}

}  // namespace kel
