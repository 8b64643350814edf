// Kel_VerifySeal: the server's verdict on a seal. The status number goes to
// the host's integer and the description into the last-error text, where the
// host reads it like a message.
#include <string_view>
#include <utility>

#include "api/export_boundary.h"
#include "api/last_error.h"
#include "api/messages.h"
#include "kel/kel.h"
#include "net/http_request.h"
#include "seal/secure_exchange.h"
#include "seal/text_arguments.h"
#include "seal/verdict.h"

namespace {

int VerifySeal(const char *url, const char *name, const char *id, const char *time, int typeFlag,
               int *status) {
  kel::ClearLastError();
  kel::HttpRequest request(url, true);

  // Only the low byte of the flag's slot counts.
  const bool type_flag = (typeFlag & 0xFF) != 0;
  request.AddParam({"type", type_flag ? "0" : "1"});
  request.AddParam({"id", kel::TextOrEmpty(id)});
  request.AddParam({"name", kel::TextOrEmpty(name)});
  request.AddParam({"time", kel::TextOrEmpty(time)});

  const kel::ExchangeOutcome outcome = kel::SecureExchange(request);
  kel::Verdict verdict;
  if (!outcome.ok() || !kel::ParseVerdict(std::string_view(outcome.result.c_str()), &verdict)) {
    kel::ReportError(kel::msg::kTransactionFailed);
    return 1;
  }
  // Taken over, not copied: a long description needs no memory here.
  kel::ReportError(std::move(verdict.description));
  if (status != nullptr) *status = verdict.status;
  return 0;
}

}  // namespace

extern "C" int KEL_CALL Kel_VerifySeal(const char *url, const char *name, const char *id,
                                       const char *time, int typeFlag, int *status) {
  // Set before anything that can fail, so that every failure leaves it at 1.
  if (status != nullptr) *status = 1;
  return kel::ExportBoundary(1, kel::msg::kTransactionFailed,
                             [&] { return VerifySeal(url, name, id, time, typeFlag, status); });
}
