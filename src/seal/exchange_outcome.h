// What one secure exchange came to, as a value: the answer's format, how the
// exchange ended, and the verified result text and carried signature. The
// exchange's last-error message, the trace's token and each transaction's
// decision are all read off this value, each in one place.
#ifndef KEL_SEAL_EXCHANGE_OUTCOME_H_
#define KEL_SEAL_EXCHANGE_OUTCOME_H_

#include <string>

#include "api/secure_wipe.h"

namespace kel {

enum class AnswerFormat {
  kNone,      // no answer came, or a body in neither format
  kFramed,    // the body holds the frame tag
  kDocument,  // a tag-value document
};

enum class ExchangeStatus {
  kOk,             // verified; `result` is the answer's result text
  kNoResponseKey,  // no response key could be drawn; nothing was sent
  kUnreachable,    // no answer body
  kNotADocument,   // a body in neither format (an error page, a cut-off answer)
  kBadFormat,      // an answer in one of the formats, but malformed
  kNotDecrypted,   // the answer did not decrypt under the response key
  kVerifyRaised,   // the provider failed while checking the signature
  kNotVerified,    // the signature does not match
  kNoServerKey,    // a document answer, but no server key was loaded
};

struct ExchangeOutcome {
  ExchangeOutcome() = default;
  ExchangeOutcome(AnswerFormat answer_format, ExchangeStatus exchange_status)
      : format(answer_format), status(exchange_status) {}

  bool ok() const { return status == ExchangeStatus::kOk; }

  AnswerFormat format = AnswerFormat::kNone;
  ExchangeStatus status = ExchangeStatus::kUnreachable;
  // The verified result text: the signed content of a framed answer, or the
  // text formed from a document's fields. Empty unless ok() (and it may be
  // empty then too: an answer may sign an empty content). Decrypted server
  // data, so it wipes itself.
  SecretText result;
  // The signature the answer carried: for a framed answer, once the frame
  // was read, also when it then fails to verify; for a document, once its
  // fields verified. Empty otherwise.
  std::string signature;
};

// The message the exchange reports for `status`; null for kOk, and for
// kNoResponseKey and kNotADocument, which each transaction words itself.
const char *ExchangeMessage(ExchangeStatus status);

// The trace's stable token for `status` ("ok", "unreachable", ...).
const char *ExchangeToken(ExchangeStatus status);

// The trace's token for `format` ("framed", "document", "none").
const char *FormatToken(AnswerFormat format);

}  // namespace kel

#endif  // KEL_SEAL_EXCHANGE_OUTCOME_H_
