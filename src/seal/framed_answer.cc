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

ExchangeOutcome DecodeFramedAnswer(std::string body, std::size_t tag_position,
                                   const char *response_key) {
  auto failed = [](ExchangeStatus status) {
    return ExchangeOutcome(AnswerFormat::kFramed, status);
  };
  // The body is a text: it ends at its first zero byte. Answers may be
  // large, so the body is read in place rather than copied.
  const std::string_view text(body.c_str());
  std::int64_t payload_length = 0;
  if (!ReadLengthField(text, tag_position, &payload_length)) {
    return failed(ExchangeStatus::kBadFormat);
  }
  std::size_t payload_start = tag_position + kFrameHeaderSize;
  std::size_t available = text.size() - payload_start;
  std::size_t taken = payload_length < 0 || static_cast<std::uint64_t>(payload_length) > available
                          ? available
                          : static_cast<std::size_t>(payload_length);
  // The payload is handed over as a text of its own: cut off behind it in
  // place, which needs no copy of a large answer.
  body.resize(payload_start + taken);

  SecretText plaintext;
  crypto::Outcome decrypted =
      crypto::DecryptText(response_key, body.c_str() + payload_start, &plaintext);
  std::string().swap(body);
  if (decrypted != crypto::Outcome::kOk) return failed(ExchangeStatus::kNotDecrypted);

  std::size_t block = plaintext.find(kResponseFrameTag);
  std::int64_t signature_length = 0;
  if (block == std::string::npos || !ReadLengthField(plaintext, block, &signature_length)) {
    return failed(ExchangeStatus::kBadFormat);
  }
  std::size_t signature_start = block + kFrameHeaderSize;
  if (signature_length < 0 ||
      static_cast<std::uint64_t>(signature_length) > plaintext.size() - signature_start) {
    return failed(ExchangeStatus::kBadFormat);
  }
  // The carried signature is handed out with the outcome, also when the
  // check fails. What follows it is the content, which keeps the
  // plaintext's block; what goes before it is wiped, not just moved over.
  ExchangeOutcome outcome(AnswerFormat::kFramed, ExchangeStatus::kOk);
  auto length = static_cast<std::size_t>(signature_length);
  outcome.signature.assign(plaintext.data() + signature_start, length);
  WipeBytes(&plaintext[0], signature_start + length);
  plaintext.erase(0, signature_start + length);
  outcome.result.swap(plaintext);

  switch (crypto::VerifySignature(kBuiltInServerKey, outcome.result.data(), outcome.result.size(),
                                  outcome.signature.c_str())) {
    case crypto::Outcome::kOk:
      return outcome;
    case crypto::Outcome::kRaised:
      outcome.status = ExchangeStatus::kVerifyRaised;
      break;
    default:
      outcome.status = ExchangeStatus::kNotVerified;
  }
  outcome.result.Wipe();
  return outcome;
}

}  // namespace kel
