// Builds the seal server's answers in both formats, encrypted under the
// request's "enc" key and signed with the server's private keys, and the
// broken answers that the fault switches ask for.
#ifndef KEL_SERVER_ANSWER_BUILDER_H_
#define KEL_SERVER_ANSWER_BUILDER_H_

#include <string>
#include <utility>
#include <vector>

namespace kel::server {

enum class AnswerFormat { kDocument, kFramed };

// One field of an inner document, in the order written.
using Field = std::pair<std::string, std::string>;

struct SigningKeys {
  std::string framed_pem;    // signs framed answers (the library's built-in key)
  std::string document_pem;  // signs document answers (the key in pubkey.key)
  std::string hash = "sha512";
};

// Text written as it stands in front of a sound document answer's outer
// document and of its inner (encrypted) one, outside the signed fields:
// benchmarks use it to give answers a chosen shape, such as many tiny
// elements. Set only in-process; no request can ask for it.
struct DocumentPadding {
  std::string outer;
  std::string inner;
  int order_repeats = 1;  // how many times "order" names the signed fields
};

// The faults that an answer can be built with; kNone is a sound answer.
enum class Fault {
  kNone,
  kNotDocument,        // a body that is no tag-value document
  kNoData,             // an outer document without "data"
  kUndecryptableData,  // "data" that does not decrypt under the key
  kInnerNotDocument,   // "data" decrypts to text that is no document
  kNoSign,
  kEmptySign,
  kNoOrder,
  kEmptyOrder,
  kBadSignature,        // document signature made over other data
  kNoStatusOrDate,      // a verified document without "status" and "date"
  kFrameShortLength,    // the body ends inside the payload length field
  kFrameUndecryptable,  // a payload that does not decrypt
  kFrameNoInnerTag,     // a payload without the signature block's tag
  kFrameBadSignature,   // a frame signed over other content
  kFrameNegativeSignatureLength,
  kFrameLongSignatureLength,  // a signature length past the end of the text
  kFrameEmptySignature,       // a frame that carries no signature at all
};

// The fault's name on the command line and in a request's query, and back.
const char *FaultName(Fault fault);
bool ParseFault(const std::string &name, Fault *fault);
std::vector<std::string> AnswerFaultNames();

struct FaultInfo {
  std::string name;
  std::string description;
};
std::vector<FaultInfo> AnswerFaults();

// True when `pem` is an EC private key (PEM) that signs with `hash`.
bool CheckSigningKey(const std::string &pem, const std::string &hash);

// Escapes a value for a tag-value document: '_' before every '<' and '>'.
std::string EscapeValue(const std::string &value);

class AnswerBuilder {
 public:
  explicit AnswerBuilder(SigningKeys keys, DocumentPadding padding = {})
      : keys_(std::move(keys)), padding_(std::move(padding)) {}

  // The answer body for the result `fields` (for a document answer) or the
  // signed `content` (for a framed one), under `response_key`. The document
  // answer names `signed_fields` in "order". Empty when the keys cannot sign.
  std::string Build(AnswerFormat format, const std::string &response_key,
                    const std::vector<Field> &fields, const std::vector<std::string> &signed_fields,
                    const std::string &framed_content, Fault fault) const;

 private:
  std::string Document(const std::string &response_key, const std::vector<Field> &fields,
                       const std::vector<std::string> &signed_fields, Fault fault) const;
  std::string Framed(const std::string &response_key, const std::string &content,
                     Fault fault) const;

  SigningKeys keys_;
  DocumentPadding padding_;
};

}  // namespace kel::server

#endif  // KEL_SERVER_ANSWER_BUILDER_H_
