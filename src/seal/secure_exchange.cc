#include "seal/secure_exchange.h"

#include <memory>

#include "api/last_error.h"
#include "api/messages.h"
#include "api/secure_wipe.h"
#include "crypto/provider.h"
#include "seal/exchange_trace.h"

namespace kel {

std::string SecureExchange(HttpRequest &request, std::string *signature) {
  const ExchangeTrace trace;
  // A key that could not be drawn is never sent: the answer would be
  // encrypted under a short or predictable key. The transaction then reports
  // its own failure.
  std::string response_key;
  ScopedWipe wipe_key(&response_key);
  if (!crypto::DrawResponseKey(&response_key)) {
    trace.Write(request, "none", "no-response-key");
    return std::string();
  }

  request.AddParam(new RequestParam{"enc", response_key});
  // A reference: answers may be large, and the request keeps the body alive.
  const std::string &body = request.Send();
  if (body.empty()) {
    ReportError(msg::kServerUnreachable);
    trace.Write(request, "none");
    return std::string();
  }
  std::string result = DecodeAnswer(body, response_key, signature);
  if (trace.on()) {
    // A body in neither format gives kUndefinedAnswer without a message or
    // a signature; a verified document always carries its signature.
    bool framed = body.find(kResponseFrameTag) != std::string::npos;
    bool neither = !framed && result == kUndefinedAnswer && signature->empty();
    trace.Write(request,
                framed    ? "framed"
                : neither ? "none"
                          : "document",
                neither ? "not-a-document" : nullptr);
  }
  return result;
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
