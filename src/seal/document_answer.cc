// The document answer: an outer tag-value document whose "data" holds the
// encrypted inner document. The inner document carries "sign" over the
// values of the fields named in "order", and the result fields.
#include <cstring>

#include "api/secure_wipe.h"
#include "crypto/provider.h"
#include "module/module_app.h"
#include "seal/secure_exchange.h"

namespace kel {
namespace {

template <typename Text>
bool Parse(TagReaderHandle &reader, const Text &text) {
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
  SecretText name;  // a name from the decrypted document
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
// before anything is built, when it would be longer than `limit`.
bool SignedData(const TagReaderHandle &inner, const std::string &order, std::size_t limit,
                SecretText *data) {
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

ExchangeOutcome Failed(ExchangeStatus status) {
  return ExchangeOutcome(AnswerFormat::kDocument, status);
}

}  // namespace

ExchangeOutcome DecodeDocumentAnswer(std::string body, const char *response_key) {
  const std::size_t answer_size = body.size();
  TagReaderHandle outer;
  bool parsed = Parse(outer, body);
  // Each copy of a large answer is let go as soon as it has served, which
  // keeps the memory peak of an answer near the size bound low.
  std::string().swap(body);
  if (!parsed) return ExchangeOutcome(AnswerFormat::kNone, ExchangeStatus::kNotADocument);

  const char *data = outer.Get("data");
  if (data == nullptr) return Failed(ExchangeStatus::kBadFormat);
  SecretText plaintext;
  if (crypto::DecryptText(response_key, data, &plaintext) != crypto::Outcome::kOk) {
    return Failed(ExchangeStatus::kNotDecrypted);
  }
  outer.Destroy();
  TagReaderHandle inner;
  parsed = Parse(inner, plaintext);
  SecretText().swap(plaintext);
  if (!parsed) return Failed(ExchangeStatus::kBadFormat);
  ExchangeStatus verified = VerifySignedFields(inner, answer_size);
  if (verified != ExchangeStatus::kOk) return Failed(verified);
  return FormAnswerResult(inner);
}

ExchangeStatus VerifySignedFields(const TagReaderHandle &inner, std::size_t answer_size) {
  const char *sign = inner.Get("sign");
  const char *order = inner.Get("order");
  SecretText data;
  if (IsEmpty(sign) || IsEmpty(order) ||
      !SignedData(inner, order, kSignedDataPerAnswerByte * answer_size, &data)) {
    return ExchangeStatus::kBadFormat;
  }
  // Tested after the format, so a document without "sign" or "order"
  // reports the format even when no key is loaded.
  const char *server_key = ServerKey().Data();
  if (server_key == nullptr) return ExchangeStatus::kNoServerKey;
  switch (crypto::VerifySignature(server_key, data.data(), data.size(), sign)) {
    case crypto::Outcome::kOk:
      return ExchangeStatus::kOk;
    case crypto::Outcome::kRaised:
      return ExchangeStatus::kVerifyRaised;
    default:
      return ExchangeStatus::kNotVerified;
  }
}

ExchangeOutcome FormAnswerResult(const TagReaderHandle &inner) {
  ExchangeOutcome outcome(AnswerFormat::kDocument, ExchangeStatus::kOk);
  if (const char *sign = inner.Get("sign")) outcome.signature = sign;
  if (const char *status = inner.Get("status")) {
    const char *desc = inner.Get("desc");
    // Built in place: no temporary holds decrypted text.
    if (desc != nullptr) outcome.result.append("0,").append(status).append(",").append(desc);
    if (desc == nullptr) outcome.result = status;
  } else if (const char *date = inner.Get("date")) {
    if (const char *content = inner.Get("content")) outcome.result = content;
    outcome.result += date;
  } else {
    outcome.status = ExchangeStatus::kBadFormat;
  }
  return outcome;
}

}  // namespace kel
