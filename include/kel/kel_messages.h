/*
 * Kel: the fixed messages that the library leaves in the last-error text.
 *
 * Kel_GetLastErr returns GBK (code page 936) bytes. After a failure they are
 * one of the messages below; after a successful Kel_VerifySeal they are the
 * server's description of its verdict instead. Compare the bytes as they come
 * from the library (strcmp against the macros), before any conversion.
 *
 * The bytes are written as escapes and this file holds ASCII only, so that it
 * reads the same under every source code page (docs/api.md shows the texts).
 *
 * KEL_MESSAGE_TABLE(X) expands X(ID, BYTES, MEANING, REPORTED_BY) once per
 * message, for building a lookup table:
 *
 *   #define KEL_ROW(id, bytes, meaning, reported_by) {bytes, meaning},
 *   static const struct { const char *bytes, *meaning; } rows[] = {
 *       KEL_MESSAGE_TABLE(KEL_ROW)};
 */
#ifndef KEL_KEL_MESSAGES_H_
#define KEL_KEL_MESSAGES_H_

/* The random string could not be generated. */
#define KEL_MSG_RANDOM_FAILED "\xC9\xFA\xB3\xC9\xCB\xE6\xBB\xFA\xCA\xFD\xD2\xEC\xB3\xA3"
/* Encryption failed. */
#define KEL_MSG_ENCRYPT_FAILED "\xBC\xD3\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3"
/* Decryption failed. */
#define KEL_MSG_DECRYPT_FAILED "\xBD\xE2\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3"
/* The server cannot be reached (no answer body). */
#define KEL_MSG_SERVER_UNREACHABLE \
  "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xA1"
/* The server's answer is not in a valid format. */
#define KEL_MSG_BAD_ANSWER_FORMAT                                                                \
  "\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB2\xBB\xBA" \
  "\xCF\xB7\xA8"
/* The server's answer could not be decrypted. */
#define KEL_MSG_ANSWER_DECRYPT_FAILED                                                            \
  "\xBD\xE2\xC3\xDC\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xCA\xA7\xB0" \
  "\xDC"
/* The server's answer did not verify. */
#define KEL_MSG_ANSWER_NOT_VERIFIED                                                              \
  "\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB2\xBB\xD5" \
  "\xFD\xC8\xB7"
/* Verifying the server's answer raised an error. */
#define KEL_MSG_ANSWER_VERIFY_RAISED                                                             \
  "\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB3\xF6\xCF" \
  "\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3"
/* No server key was loaded (pubkey.key). */
#define KEL_MSG_NO_PUBLIC_KEY "\xC3\xBB\xD3\xD0\xB9\xAB\xD4\xBF\xCA\xFD\xBE\xDD\xA3\xA1"
/* Wrong argument. */
#define KEL_MSG_BAD_ARGUMENT "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3"
/* The server transaction failed. */
#define KEL_MSG_TRANSACTION_FAILED "\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC"
/* The timestamp is not valid. */
#define KEL_MSG_TIMESTAMP_INVALID "\xCA\xB1\xBC\xE4\xB4\xC1\xCE\xDE\xD0\xA7"
/* Verifying the timestamp raised an error. */
#define KEL_MSG_TIMESTAMP_VERIFY_RAISED                                                          \
  "\xD1\xE9\xD6\xA4\xCA\xB1\xBC\xE4\xB4\xC1\xCA\xB1\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE" \
  "\xF3"

/* The server transactions that report a message of their exchange. */
#define KEL_MSG_SERVER_EXPORTS "Kel_SendSealRecord Kel_VerifySeal Kel_GetServerTime"

#define KEL_MESSAGE_TABLE(X)                                                                      \
  X(RANDOM_FAILED, KEL_MSG_RANDOM_FAILED, "the random string could not be generated",             \
    "Kel_GetRadomString")                                                                         \
  X(ENCRYPT_FAILED, KEL_MSG_ENCRYPT_FAILED, "encryption failed", "Kel_AESEncryption")             \
  X(DECRYPT_FAILED, KEL_MSG_DECRYPT_FAILED, "decryption failed", "Kel_AESDecryption")             \
  X(SERVER_UNREACHABLE, KEL_MSG_SERVER_UNREACHABLE, "the server cannot be reached",               \
    KEL_MSG_SERVER_EXPORTS)                                                                       \
  X(BAD_ANSWER_FORMAT, KEL_MSG_BAD_ANSWER_FORMAT, "the server's answer is not in a valid format", \
    KEL_MSG_SERVER_EXPORTS)                                                                       \
  X(ANSWER_DECRYPT_FAILED, KEL_MSG_ANSWER_DECRYPT_FAILED,                                         \
    "the server's answer could not be decrypted", KEL_MSG_SERVER_EXPORTS)                         \
  X(ANSWER_NOT_VERIFIED, KEL_MSG_ANSWER_NOT_VERIFIED, "the server's answer did not verify",       \
    KEL_MSG_SERVER_EXPORTS)                                                                       \
  X(ANSWER_VERIFY_RAISED, KEL_MSG_ANSWER_VERIFY_RAISED,                                           \
    "verifying the server's answer raised an error", KEL_MSG_SERVER_EXPORTS)                      \
  X(NO_PUBLIC_KEY, KEL_MSG_NO_PUBLIC_KEY, "no server key was loaded",                             \
    KEL_MSG_SERVER_EXPORTS " Kel_VerifyTimeStamp")                                                \
  X(BAD_ARGUMENT, KEL_MSG_BAD_ARGUMENT, "wrong argument", "Kel_SendSealRecord")                   \
  X(TRANSACTION_FAILED, KEL_MSG_TRANSACTION_FAILED, "the server transaction failed",              \
    KEL_MSG_SERVER_EXPORTS)                                                                       \
  X(TIMESTAMP_INVALID, KEL_MSG_TIMESTAMP_INVALID, "the timestamp is not valid",                   \
    "Kel_VerifyTimeStamp")                                                                        \
  X(TIMESTAMP_VERIFY_RAISED, KEL_MSG_TIMESTAMP_VERIFY_RAISED,                                     \
    "verifying the timestamp raised an error", "Kel_VerifyTimeStamp")

#endif /* KEL_KEL_MESSAGES_H_ */
