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
  request.AddParam({"username", kel::TextOrEmpty(userName)});
  request.AddParam({"sealid", kel::TextOrEmpty(sealId)});
  request.AddParam({"remark", kel::TextOrEmpty(remark)});

  const kel::ExchangeOutcome outcome = kel::SecureExchange(request);
  // A body that is no answer at all (an error page, a cut-off answer) is no
  // verdict on the record: the record may not have been stored.
  if (outcome.status == kel::ExchangeStatus::kNotADocument) {
    kel::ReportError(kel::msg::kBadAnswerFormat);
    return 1;
  }
  // The verified text goes to the host as it is, whatever it says; its first
  // zero byte ends it. The carried signature is not delivered.
  const std::size_t length = outcome.ok() ? std::strlen(outcome.result.c_str()) : 0;
  char *block = length != 0 ? kel::NewHostBuffer(outcome.result.data(), length) : nullptr;
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
