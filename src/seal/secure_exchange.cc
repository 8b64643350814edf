#include "seal/secure_exchange.h"

#include <utility>

#include "api/last_error.h"
#include "api/secure_wipe.h"
#include "crypto/provider.h"
#include "seal/exchange_trace.h"

namespace kel {

ExchangeOutcome SecureExchange(HttpRequest &request) {
  const ExchangeTrace trace;
  ExchangeOutcome outcome(AnswerFormat::kNone, ExchangeStatus::kNoResponseKey);
  // A key that could not be drawn is never sent: the answer would be
  // encrypted under a short or predictable key.
  SecretText response_key;
  if (crypto::DrawResponseKey(&response_key)) {
    request.AddParam({"enc", response_key});
    std::string body = request.Send();
    outcome = body.empty() ? ExchangeOutcome(AnswerFormat::kNone, ExchangeStatus::kUnreachable)
                           : DecodeAnswer(std::move(body), response_key.c_str());
  }
  if (const char *message = ExchangeMessage(outcome.status)) ReportError(message);
  trace.Write(request, outcome);
  return outcome;
}

ExchangeOutcome DecodeAnswer(std::string body, const char *response_key) {
  std::size_t tag_position = body.find(kResponseFrameTag);
  if (tag_position != std::string::npos) {
    return DecodeFramedAnswer(std::move(body), tag_position, response_key);
  }
  return DecodeDocumentAnswer(std::move(body), response_key);
}

}  // namespace kel
