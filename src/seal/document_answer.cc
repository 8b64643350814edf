// The document answer: an outer tag-value document whose "data" holds the
// encrypted inner document. The inner document carries "sign" over the
// values of the fields named in "order", and the result fields.
#include <cstring>

#include "api/last_error.h"
#include "api/messages.h"
#include "api/secure_wipe.h"
#include "crypto/provider.h"
#include "module/module_app.h"
#include "seal/secure_exchange.h"

namespace kel {
namespace {

bool Parse(TagReaderHandle &reader, const std::string &text) {
  return reader.Parse(text.c_str(), static_cast<int>(text.size()));
}

bool IsEmpty(const char *value) { return value == nullptr || value[0] == '\0'; }

// Calls `visit` with the value of each field named in the comma-separated
// `order`, in order. A comma at the very start is stepped over, one at the
// end ends the walk, and an empty item between two commas names the empty
// name. Absent fields are passed over. `visit` returns false to stop.
template <typename Visit>
void ForEachOrderedValue(const TagReaderHandle &inner, const std::string &order, Visit visit) {
  std::size_t position = !order.empty() && order[0] == ',' ? 1 : 0;
  std::string name;
  while (position < order.size()) {
    std::size_t comma = order.find(',', position);
    std::size_t end = comma == std::string::npos ? order.size() : comma;
    name.assign(order, position, end - position);
    if (const char *value = inner.Get(name.c_str())) {
      if (!visit(value)) return;
    }
    if (comma == std::string::npos) return;
    position = comma + 1;
  }
}

// The signed data: the ordered values joined without separators. False,
// before anything is built, when it would be longer than `limit`: "order"
// may name a field many times, and an answer must not cost more memory than
// a small multiple of its own size.
bool SignedData(const TagReaderHandle &inner, const std::string &order, std::size_t limit,
                std::string *data) {
  std::size_t length = 0;
  bool fits = true;
  ForEachOrderedValue(inner, order, [&](const char *value) {
    length += std::strlen(value);
    fits = length <= limit;
    return fits;
  });
  if (!fits) return false;
  data->reserve(length);
  ForEachOrderedValue(inner, order, [&](const char *value) {
    data->append(value);
    return true;
  });
  return true;
}

}  // namespace

std::string DecodeDocumentAnswer(const std::string &body, const std::string &response_key,
                                 std::string *signature) {
  TagReaderHandle outer;
  if (!Parse(outer, body)) return kUndefinedAnswer;

  const char *data = outer.Get("data");
  if (data == nullptr) {
    ReportError(msg::kBadAnswerFormat);
    return std::string();
  }
  std::string plaintext;
  if (crypto::DecryptText(response_key.c_str(), data, &plaintext) != crypto::Outcome::kOk) {
    ReportError(msg::kAnswerDecryptFailed);
    return std::string();
  }
  // Each copy of a large answer is let go as soon as it has served, which
  // keeps the memory peak of an answer near the size bound low.
  outer.Destroy();
  TagReaderHandle inner;
  bool parsed = Parse(inner, plaintext);
  const std::size_t inner_length = std::strlen(plaintext.c_str());
  WipeText(&plaintext);
  std::string().swap(plaintext);
  if (!parsed) {
    ReportError(msg::kBadAnswerFormat);
    return std::string();
  }
  if (!VerifySignedFields(inner, inner_length)) return std::string();
  return FormAnswerResult(inner, signature);
}

bool VerifySignedFields(const TagReaderHandle &inner, std::size_t document_length) {
  const char *sign = inner.Get("sign");
  const char *order = inner.Get("order");
  std::string data;
  if (IsEmpty(sign) || IsEmpty(order) || !SignedData(inner, order, document_length, &data)) {
    ReportError(msg::kBadAnswerFormat);
    return false;
  }

  // Tested after the format, so a document without "sign" or "order"
  // reports the format even when no key is loaded.
  const char *server_key = ServerKey().Data();
  if (server_key == nullptr) {
    ReportError(msg::kNoPublicKey);
    return false;
  }
  switch (crypto::VerifySignature(server_key, data.data(), data.size(), sign)) {
    case crypto::Outcome::kOk:
      return true;
    case crypto::Outcome::kRaised:
      ReportError(msg::kAnswerVerifyRaised);
      return false;
    default:
      ReportError(msg::kAnswerNotVerified);
      return false;
  }
}

std::string FormAnswerResult(const TagReaderHandle &inner, std::string *signature) {
  if (const char *sign = inner.Get("sign")) *signature = sign;
  if (const char *status = inner.Get("status")) {
    const char *desc = inner.Get("desc");
    return desc != nullptr ? std::string("0,") + status + "," + desc : std::string(status);
  }
  if (const char *date = inner.Get("date")) {
    const char *content = inner.Get("content");
    return std::string(content != nullptr ? content : "") + date;
  }
  ReportError(msg::kBadAnswerFormat);
  return std::string();
}

}  // namespace kel
