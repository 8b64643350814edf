#include "seal/secure_exchange.h"

#include <memory>

#include "api/last_error.h"
#include "api/messages.h"
#include "crypto/provider.h"

namespace kel {

std::string SecureExchange(HttpRequest &request, std::string *signature) {
  // A key that could not be drawn is never sent: the answer would be
  // encrypted under a short or predictable key. The transaction then reports
  // its own failure.
  std::string response_key;
  if (!crypto::DrawResponseKey(&response_key)) return std::string();

  request.AddParam(new RequestParam{"enc", response_key});
  // A reference: answers may be large, and the request keeps the body alive.
  const std::string &body = request.Send();
  if (body.empty()) {
    ReportError(msg::kServerUnreachable);
    return std::string();
  }
  return DecodeAnswer(body, response_key, signature);
}

std::string DecodeAnswer(const std::string &body, const std::string &response_key,
                         std::string *signature) {
  std::size_t tag_position = body.find(kResponseFrameTag);
  if (tag_position != std::string::npos) {
    return DecodeFramedAnswer(body, tag_position, response_key, signature);
  }
  return DecodeDocumentAnswer(body, response_key, signature);
}

}  // namespace kel
