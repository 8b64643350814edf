#include "seal/exchange_outcome.h"

#include <cstddef>

#include "api/messages.h"

namespace kel {
namespace {

struct StatusText {
  const char *message;  // null: the exchange reports nothing itself
  const char *token;
};

// Indexed by ExchangeStatus, in its order.
constexpr StatusText kStatusTexts[] = {
    {nullptr, "ok"},
    {nullptr, "no-response-key"},
    {msg::kServerUnreachable, "unreachable"},
    {nullptr, "not-a-document"},
    {msg::kBadAnswerFormat, "bad-format"},
    {msg::kAnswerDecryptFailed, "not-decrypted"},
    {msg::kAnswerVerifyRaised, "verify-raised"},
    {msg::kAnswerNotVerified, "not-verified"},
    {msg::kNoPublicKey, "no-server-key"},
};
static_assert(sizeof kStatusTexts / sizeof kStatusTexts[0] ==
                  static_cast<std::size_t>(ExchangeStatus::kNoServerKey) + 1,
              "one entry per status");

}  // namespace

const char *ExchangeMessage(ExchangeStatus status) {
  return kStatusTexts[static_cast<std::size_t>(status)].message;
}

const char *ExchangeToken(ExchangeStatus status) {
  return kStatusTexts[static_cast<std::size_t>(status)].token;
}

const char *FormatToken(AnswerFormat format) {
  switch (format) {
    case AnswerFormat::kFramed:
      return "framed";
    case AnswerFormat::kDocument:
      return "document";
    case AnswerFormat::kNone:
      break;
  }
  return "none";
}

}  // namespace kel
