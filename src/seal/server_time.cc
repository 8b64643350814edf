// Kel_GetServerTime and Kel_VerifyTimeStamp: a signed time from the server
// for a content text, and the local check of that signature. The signed
// message is the content text followed directly by the time text.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "api/export_boundary.h"
#include "api/host_buffer.h"
#include "api/last_error.h"
#include "api/messages.h"
#include "crypto/provider.h"
#include "kel/kel.h"
#include "module/module_app.h"
#include "net/http_request.h"
#include "seal/local_clock.h"
#include "seal/secure_exchange.h"
#include "seal/text_arguments.h"

namespace kel {
namespace {

// Runs the time exchange. False when it failed, and then nothing is stored.
// Otherwise each non-null output has received its buffer: the result text
// without its first strlen(content) bytes, and the carried signature.
bool FetchServerTime(char **time, char **signature, const char *content, const char *url) {
  HttpRequest request(url, true);
  request.AddParam({"content", content});

  const ExchangeOutcome outcome = SecureExchange(request);
  // The texts end at their first zero byte.
  const char *result = outcome.result.c_str();
  if (!outcome.ok() || result[0] == '\0') {
    ReportError(msg::kTransactionFailed);
    return false;
  }
  // The content's bytes are skipped, not compared: the signature covers them.
  std::size_t result_length = std::strlen(result);
  std::size_t content_length = std::min(std::strlen(content), result_length);
  const char *time_text = result + content_length;
  const char *signature_text = outcome.signature.c_str();

  char *time_block =
      time != nullptr ? NewHostBuffer(time_text, result_length - content_length) : nullptr;
  char *signature_block =
      signature != nullptr ? NewHostBuffer(signature_text, std::strlen(signature_text)) : nullptr;
  if ((time != nullptr && time_block == nullptr) ||
      (signature != nullptr && signature_block == nullptr)) {
    std::free(time_block);
    std::free(signature_block);
    ReportError(msg::kTransactionFailed);
    return false;
  }
  if (time != nullptr) *time = time_block;
  if (signature != nullptr) *signature = signature_block;
  return true;
}

}  // namespace
}  // namespace kel

namespace {

int GetServerTime(char **time, char **signature, const char *content, const char *url) {
  kel::ClearLastError();
  if (url == nullptr) {
    // The local clock, without a signature.
    if (time == nullptr) {
      kel::ReportError(kel::msg::kBadArgument);
      return 1;
    }
    char *block = kel::NewHostBuffer(kel::LocalTimeText());
    if (block == nullptr) {
      kel::ReportError(kel::msg::kTransactionFailed);
      return 1;
    }
    *time = block;
    return 0;
  }
  if (!kel::FetchServerTime(time, signature, kel::TextOrEmpty(content), url)) return 1;
  // Buffers already stored stay with the host, also when the call fails here.
  if (time == nullptr || signature == nullptr || (*time)[0] == '\0' || (*signature)[0] == '\0') {
    kel::ReportError(kel::msg::kTransactionFailed);
    return 1;
  }
  return 0;
}

int VerifyTimeStamp(const char *content, const char *time, const char *signature) {
  // Unlike the other transactions this one leaves the last-error text as the
  // previous call left it.
  const std::string message = std::string(kel::TextOrEmpty(content)) + kel::TextOrEmpty(time);
  const char *server_key = kel::ServerKey().Data();
  if (server_key == nullptr) {
    kel::ReportError(kel::msg::kNoPublicKey);
    return 1;
  }
  switch (kel::crypto::VerifySignature(server_key, message.data(), message.size(),
                                       kel::TextOrEmpty(signature))) {
    case kel::crypto::Outcome::kOk:
      return 0;
    case kel::crypto::Outcome::kRaised:
      kel::ReportError(kel::msg::kTimestampVerifyRaised);
      return 1;
    default:
      kel::ReportError(kel::msg::kTimestampInvalid);
      return 1;
  }
}

}  // namespace

extern "C" int KEL_CALL Kel_GetServerTime(char **time, char **signature, const char *content,
                                          const char *url) {
  return kel::ExportBoundary(1, kel::msg::kTransactionFailed,
                             [&] { return GetServerTime(time, signature, content, url); });
}

extern "C" int KEL_CALL Kel_VerifyTimeStamp(const char *content, const char *time,
                                            const char *signature) {
  return kel::ExportBoundary(1, kel::msg::kTimestampVerifyRaised,
                             [&] { return VerifyTimeStamp(content, time, signature); });
}
