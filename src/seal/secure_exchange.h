// The one road by which every server transaction reaches the seal server.
//
// The exchange adds a fresh random key as the last parameter "enc", sends the
// request, recognises the answer's format, decrypts it under that key,
// verifies the server's signature and reduces the answer to a result text
// (and the signature it carried). Every failure goes to ReportError and gives
// an empty result; a body that is neither framed nor a tag-value document
// gives the literal "msg undefine" without a message. The last-error text is
// never cleared here.
#ifndef KEL_SEAL_SECURE_EXCHANGE_H_
#define KEL_SEAL_SECURE_EXCHANGE_H_

#include <cstddef>
#include <string>

#include "doc/tag_reader_handle.h"
#include "net/http_request.h"

namespace kel {

// Opens a framed answer in the body, and its signature block in the payload.
inline constexpr char kResponseFrameTag[] = "QORVENVELDIRENCTAG";
inline constexpr std::size_t kResponseFrameTagLength = sizeof(kResponseFrameTag) - 1;

// The result of a body that is not a tag-value document.
inline constexpr char kUndefinedAnswer[] = "msg undefine";

// Sends `request` (which must not hold "enc" yet) and decodes its answer.
// `signature` is the caller's, empty on entry.
std::string SecureExchange(HttpRequest &request, std::string *signature);

// The decoding half of the exchange, for a body already received under
// `response_key`: picks the framed or the document branch.
std::string DecodeAnswer(const std::string &body, const std::string &response_key,
                         std::string *signature);

// The framed branch; `tag_position` is where the tag was found in `body`.
std::string DecodeFramedAnswer(const std::string &body, std::size_t tag_position,
                               const std::string &response_key, std::string *signature);

// The document branch.
std::string DecodeDocumentAnswer(const std::string &body, const std::string &response_key,
                                 std::string *signature);

// True when the inner document's "sign" is a valid signature by the server
// key over the values of the fields named in "order"; otherwise reports why.
// `document_length` is the inner document's length: signed data longer than
// the document it came from (a field named again and again) is a format
// fault, found before the data is built.
bool VerifySignedFields(const TagReaderHandle &inner, std::size_t document_length);

// The result text of a verified inner document; fills `signature` from "sign".
std::string FormAnswerResult(const TagReaderHandle &inner, std::string *signature);

}  // namespace kel

#endif  // KEL_SEAL_SECURE_EXCHANGE_H_
