// Kel_SendSealRecord: reports one use of a seal and hands the server's
// verified result text to the host as it is.
#include <cstring>

#include "api/export_boundary.h"
#include "api/host_buffer.h"
#include "api/last_error.h"
#include "api/messages.h"
#include "kel/kel.h"
#include "net/http_request.h"
#include "seal/secure_exchange.h"
#include "seal/text_arguments.h"

namespace {

int SendSealRecord(const char *userName, const char *sealId, const char *remark, const char *url,
                   char **result) {
  kel::ClearLastError();
  if (result == nullptr) {
    kel::ReportError(kel::msg::kBadArgument);
    return 1;
  }
  kel::HttpRequest request(url, true);
  request.AddParam(new kel::RequestParam{"username", kel::TextOrEmpty(userName)});
  request.AddParam(new kel::RequestParam{"sealid", kel::TextOrEmpty(sealId)});
  request.AddParam(new kel::RequestParam{"remark", kel::TextOrEmpty(remark)});

  std::string signature;  // not delivered by this transaction
  const std::string text = kel::SecureExchange(request, &signature).c_str();
  // A body that is no document at all (an error page, a cut-off answer) is
  // not a verdict on the record: the record was not stored.
  if (text == kel::kUndefinedAnswer) {
    kel::ReportError(kel::msg::kBadAnswerFormat);
    return 1;
  }
  char *block = text.empty() ? nullptr : kel::NewHostBuffer(text);
  if (block == nullptr) {
    kel::ReportError(kel::msg::kTransactionFailed);
    return 1;
  }
  *result = block;
  return 0;
}

}  // namespace

extern "C" int KEL_CALL Kel_SendSealRecord(const char *userName, const char *sealId,
                                           const char *remark, const char *url, char **result) {
  return kel::ExportBoundary(1, kel::msg::kTransactionFailed,
                             [&] { return SendSealRecord(userName, sealId, remark, url, result); });
}
