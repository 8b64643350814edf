// The one road by which every server transaction reaches the seal server.
//
// The exchange adds a fresh random key as the last parameter "enc", sends the
// request once, recognises the answer's format, decrypts it under that key,
// verifies the server's signature and reduces the answer to an
// ExchangeOutcome: the verified result text and carried signature, or what
// went wrong. SecureExchange reports the outcome's message to the last-error
// text (which it never clears) and writes the trace's line; the decoding
// functions below only compute the value.
#ifndef KEL_SEAL_SECURE_EXCHANGE_H_
#define KEL_SEAL_SECURE_EXCHANGE_H_

#include <cstddef>
#include <string>

#include "doc/tag_reader_handle.h"
#include "net/http_request.h"
#include "seal/exchange_outcome.h"

namespace kel {

// Opens a framed answer in the body, and its signature block in the payload.
inline constexpr char kResponseFrameTag[] = "QORVENVELDIRENCTAG";
inline constexpr std::size_t kResponseFrameTagLength = sizeof(kResponseFrameTag) - 1;

// Sends `request` (which must not hold "enc" yet) once and decodes its answer.
ExchangeOutcome SecureExchange(HttpRequest &request);

// The decoding half of the exchange, for a body received under
// `response_key`: picks the framed or the document branch. The body is taken
// over so that it can be let go as soon as it has served.
ExchangeOutcome DecodeAnswer(std::string body, const char *response_key);

// The framed branch; `tag_position` is where the tag was found in `body`.
ExchangeOutcome DecodeFramedAnswer(std::string body, std::size_t tag_position,
                                   const char *response_key);

// The document branch.
ExchangeOutcome DecodeDocumentAnswer(std::string body, const char *response_key);

// How much signed data an answer may name per byte of its body. "order" may
// name a field again and again: the bound lets an honest answer repeat its
// fields while a small answer cannot make the host build gigabytes.
inline constexpr std::size_t kSignedDataPerAnswerByte = 2;

// kOk when the inner document's "sign" is a valid signature by the server
// key over the values of the fields named in "order"; otherwise what failed.
// Signed data longer than kSignedDataPerAnswerByte times `answer_size` is a
// format fault, found before the data is built.
ExchangeStatus VerifySignedFields(const TagReaderHandle &inner, std::size_t answer_size);

// The result of a verified inner document: the result text formed from its
// fields and the signature from "sign"; a format fault when it has neither
// "status" nor "date" (the signature is taken all the same).
ExchangeOutcome FormAnswerResult(const TagReaderHandle &inner);

}  // namespace kel

#endif  // KEL_SEAL_SECURE_EXCHANGE_H_
