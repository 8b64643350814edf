// The fixed messages that the library stores in the last-error text, under
// the names the library's code uses. The bytes are defined once, in the
// public header kel/kel_messages.h, which hosts compare against.
#ifndef KEL_API_MESSAGES_H_
#define KEL_API_MESSAGES_H_

#include "kel/kel_messages.h"

namespace kel {
namespace msg {

inline constexpr char kRandomFailed[] = KEL_MSG_RANDOM_FAILED;
inline constexpr char kEncryptFailed[] = KEL_MSG_ENCRYPT_FAILED;
inline constexpr char kDecryptFailed[] = KEL_MSG_DECRYPT_FAILED;
inline constexpr char kServerUnreachable[] = KEL_MSG_SERVER_UNREACHABLE;
inline constexpr char kBadAnswerFormat[] = KEL_MSG_BAD_ANSWER_FORMAT;
inline constexpr char kAnswerDecryptFailed[] = KEL_MSG_ANSWER_DECRYPT_FAILED;
inline constexpr char kAnswerNotVerified[] = KEL_MSG_ANSWER_NOT_VERIFIED;
inline constexpr char kAnswerVerifyRaised[] = KEL_MSG_ANSWER_VERIFY_RAISED;
inline constexpr char kNoPublicKey[] = KEL_MSG_NO_PUBLIC_KEY;
inline constexpr char kBadArgument[] = KEL_MSG_BAD_ARGUMENT;
inline constexpr char kTransactionFailed[] = KEL_MSG_TRANSACTION_FAILED;
inline constexpr char kTimestampInvalid[] = KEL_MSG_TIMESTAMP_INVALID;
inline constexpr char kTimestampVerifyRaised[] = KEL_MSG_TIMESTAMP_VERIFY_RAISED;

}  // namespace msg
}  // namespace kel

#endif  // KEL_API_MESSAGES_H_
