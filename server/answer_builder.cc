#include "answer_builder.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "kestro/kestro.h"

namespace kel::server {
namespace {

constexpr char kFrameTag[] = "QORVENVELDIRENCTAG";

struct FaultEntry {
  Fault fault;
  const char *name;
  const char *description;
};
constexpr FaultEntry kFaults[] = {
    {Fault::kNone, "none", "a sound answer"},
    {Fault::kNotDocument, "not-document", "a body that is no tag-value document"},
    {Fault::kNoData, "no-data", "a document without \"data\""},
    {Fault::kUndecryptableData, "undecryptable-data", "\"data\" that does not decrypt"},
    {Fault::kInnerNotDocument, "inner-not-document", "\"data\" that decrypts to no document"},
    {Fault::kNoSign, "no-sign", "an inner document without \"sign\""},
    {Fault::kEmptySign, "empty-sign", "an empty \"sign\""},
    {Fault::kNoOrder, "no-order", "an inner document without \"order\""},
    {Fault::kEmptyOrder, "empty-order", "an empty \"order\""},
    {Fault::kBadSignature, "bad-signature", "a document signed over other data"},
    {Fault::kNoStatusOrDate, "no-status-or-date", "a verified document without status and date"},
    {Fault::kFrameShortLength, "frame-short-length",
     "a framed body that ends inside the payload length"},
    {Fault::kFrameUndecryptable, "frame-undecryptable", "a framed payload that does not decrypt"},
    {Fault::kFrameNoInnerTag, "frame-no-inner-tag", "a payload without the signature block's tag"},
    {Fault::kFrameBadSignature, "frame-bad-signature", "a frame signed over other content"},
    {Fault::kFrameNegativeSignatureLength, "frame-negative-signature-length",
     "a negative signature length"},
    {Fault::kFrameLongSignatureLength, "frame-long-signature-length",
     "a signature length past the end of the payload"},
    {Fault::kFrameEmptySignature, "frame-empty-signature", "a frame that carries no signature"},
};

// Takes a provider buffer and releases it with Ecc_Free.
std::string TakeProviderText(char *text) {
  if (text == nullptr) return std::string();
  std::string copy = text;
  void *buffer = text;
  Ecc_Free(&buffer);
  return copy;
}

std::string Encrypt(const std::string &key, const std::string &plaintext) {
  return TakeProviderText(AES_Encryption_CH(key.c_str(), plaintext.c_str()));
}

std::string Sign(const std::string &pem, const std::string &hash, const std::string &data) {
  return TakeProviderText(ECDSA_Sign_CH(pem.c_str(), hash.c_str(),
                                        reinterpret_cast<const unsigned char *>(data.data()),
                                        static_cast<int>(data.size())));
}

std::string LengthField(long long length) {
  char field[16];
  std::snprintf(field, sizeof field, "%08lld", length);
  return field;
}

std::string Element(const std::string &name, const std::string &value) {
  return "<" + name + ">" + EscapeValue(value) + "</" + name + ">";
}

std::string Join(const std::vector<std::string> &names) {
  std::string joined;
  for (const auto &name : names) joined += (joined.empty() ? "" : ",") + name;
  return joined;
}

}  // namespace

const char *FaultName(Fault fault) {
  for (const auto &entry : kFaults) {
    if (entry.fault == fault) return entry.name;
  }
  return "none";
}

bool ParseFault(const std::string &name, Fault *fault) {
  for (const auto &entry : kFaults) {
    if (name == entry.name) {
      *fault = entry.fault;
      return true;
    }
  }
  return false;
}

std::vector<std::string> AnswerFaultNames() {
  std::vector<std::string> names;
  for (const auto &entry : kFaults) names.emplace_back(entry.name);
  return names;
}

std::vector<FaultInfo> AnswerFaults() {
  std::vector<FaultInfo> faults;
  for (const auto &entry : kFaults) faults.push_back({entry.name, entry.description});
  return faults;
}

bool CheckSigningKey(const std::string &pem, const std::string &hash) {
  return !Sign(pem, hash, "a signature that shows the key can sign").empty();
}

std::string EscapeValue(const std::string &value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '<' || c == '>') escaped += '_';
    escaped += c;
  }
  return escaped;
}

std::string AnswerBuilder::Build(AnswerFormat format, const std::string &response_key,
                                 const std::vector<Field> &fields,
                                 const std::vector<std::string> &signed_fields,
                                 const std::string &framed_content, Fault fault) const {
  if (fault == Fault::kNotDocument) return "this is no document <";
  if (format == AnswerFormat::kFramed) return Framed(response_key, framed_content, fault);
  return Document(response_key, fields, signed_fields, fault);
}

std::string AnswerBuilder::Document(const std::string &response_key,
                                    const std::vector<Field> &fields,
                                    const std::vector<std::string> &signed_fields,
                                    Fault fault) const {
  if (fault == Fault::kNoData) return Element("status", "0");
  if (fault == Fault::kUndecryptableData) return Element("data", "bm90IGEgY2lwaGVydGV4dA==");
  if (fault == Fault::kInnerNotDocument) return Element("data", Encrypt(response_key, "<a>1"));

  std::vector<Field> written;
  for (const auto &field : fields) {
    bool result_field = field.first == "status" || field.first == "date";
    if (fault == Fault::kNoStatusOrDate && result_field) continue;
    written.push_back(field);
  }
  std::vector<std::string> order;
  for (int i = 0; i < std::max(padding_.order_repeats, 1); ++i) {
    order.insert(order.end(), signed_fields.begin(), signed_fields.end());
  }
  std::string signed_data;
  for (const auto &name : order) {
    for (const auto &field : written) {
      if (field.first == name) signed_data += field.second;
    }
  }
  std::string signature = Sign(keys_.document_pem, keys_.hash,
                               fault == Fault::kBadSignature ? signed_data + "x" : signed_data);
  if (signature.empty()) return std::string();

  std::string inner = padding_.inner;
  for (const auto &field : written) inner += Element(field.first, field.second);
  if (fault != Fault::kNoOrder) {
    inner += Element("order", fault == Fault::kEmptyOrder ? "" : Join(order));
  }
  if (fault != Fault::kNoSign)
    inner += Element("sign", fault == Fault::kEmptySign ? "" : signature);
  return padding_.outer + Element("data", Encrypt(response_key, inner));
}

std::string AnswerBuilder::Framed(const std::string &response_key, const std::string &content,
                                  Fault fault) const {
  if (fault == Fault::kFrameShortLength) return std::string("prefix ") + kFrameTag + "0012";

  std::string signature = Sign(keys_.framed_pem, keys_.hash,
                               fault == Fault::kFrameBadSignature ? content + "x" : content);
  if (signature.empty()) return std::string();
  std::string block;
  switch (fault) {
    case Fault::kFrameNoInnerTag:
      block = LengthField(static_cast<long long>(signature.size())) + signature + content;
      break;
    case Fault::kFrameNegativeSignatureLength:
      block = kFrameTag + LengthField(-5) + signature + content;
      break;
    case Fault::kFrameLongSignatureLength:
      block = kFrameTag +
              LengthField(static_cast<long long>(signature.size() + content.size() + 1)) +
              signature + content;
      break;
    case Fault::kFrameEmptySignature:
      block = kFrameTag + LengthField(0) + content;
      break;
    default:
      block =
          kFrameTag + LengthField(static_cast<long long>(signature.size())) + signature + content;
  }
  std::string payload =
      fault == Fault::kFrameUndecryptable ? std::string("AAAA") : Encrypt(response_key, block);
  return std::string("frame ") + kFrameTag + LengthField(static_cast<long long>(payload.size())) +
         payload;
}

}  // namespace kel::server
