// The key text that framed server answers are verified against. It is
// deployment data, chosen when the library is configured
// (KEL_BUILTIN_SERVER_KEY); the default is a development key.
#ifndef KEL_CRYPTO_BUILT_IN_SERVER_KEY_H_
#define KEL_CRYPTO_BUILT_IN_SERVER_KEY_H_

#include "crypto/built_in_server_key_text.h"

namespace kel {

inline constexpr char kBuiltInServerKey[] = KEL_BUILT_IN_SERVER_KEY_TEXT;

static_assert(sizeof(kBuiltInServerKey) == 289 + 1, "the key text has 289 characters");

}  // namespace kel

#endif  // KEL_CRYPTO_BUILT_IN_SERVER_KEY_H_
