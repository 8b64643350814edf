/*
 * Kel: client library for the electronic-seal service.
 *
 * Ownership rules, in one place:
 *  - Every buffer that a function returns, or stores through a `char **`
 *    out-parameter, is owned by the caller from then on and must be released
 *    with Kel_ReleaseBuf. It is one byte longer than its content and that byte
 *    is zero, also for binary results.
 *  - Buffers that the caller passes in to be filled (base64 and hex output)
 *    stay the caller's; the sizes they need are given with each function.
 *  - Texts are narrow, zero-terminated byte strings in the host's code page.
 *    The library's own messages are GBK (code page 936) bytes.
 *
 * Errors: failing functions return their failure result (null, or 1 for the
 * server transactions) and leave a message that Kel_GetLastErr copies out.
 * The message is one text per process; most functions empty it on entry.
 */
#ifndef KEL_KEL_H_
#define KEL_KEL_H_

/* The library's version. The build checks these numbers against the
 * project's version; Kel.dll carries them in its version resource, and
 * libkel.so.MAJOR is the Linux library's soname. */
#define KEL_VERSION_MAJOR 1
#define KEL_VERSION_MINOR 0
#define KEL_VERSION_PATCH 0

#if defined(_WIN32) && !defined(_WIN64)
#define KEL_CALL __stdcall
#else
#define KEL_CALL
#endif

#if defined(KEL_BUILDING_LIBRARY) && !defined(_WIN32)
#define KEL_API __attribute__((visibility("default")))
#else
#define KEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Call frame ------------------------------------------------------- */

/* Releases a buffer that the library handed out. Returns 1 for null (and does
 * nothing), otherwise frees the buffer and returns 0. */
KEL_API int KEL_CALL Kel_ReleaseBuf(void *buffer);

/* Returns a copy of the last error text (empty when there is none). */
KEL_API char *KEL_CALL Kel_GetLastErr(void);

/* ---- Server transactions ---------------------------------------------- */

/* Reports one use of a seal. On success (0) *result receives the server's
 * result text; 1 on failure. */
KEL_API int KEL_CALL Kel_SendSealRecord(const char *userName, const char *sealId,
                                        const char *remark, const char *url, char **result);

/* Asks the server to verify a seal. Returns 0 when the server's verdict was
 * read: *status receives its status number and the last error text its
 * description. Returns 1 otherwise, with *status set to 1. Only the low byte
 * of typeFlag counts: non-zero sends type "0", zero sends type "1". */
KEL_API int KEL_CALL Kel_VerifySeal(const char *url, const char *name, const char *id,
                                    const char *time, int typeFlag, int *status);

/* Obtains a signed server time for `content` (0 on success, 1 on failure).
 * With a null url the local clock's time is returned and *signature is not
 * written. */
KEL_API int KEL_CALL Kel_GetServerTime(char **time, char **signature, const char *content,
                                       const char *url);

/* Checks the server's signature over content followed by time against the
 * key file pubkey.key. Returns 0 when it verifies, 1 otherwise. Does not
 * empty the last error text first. */
KEL_API int KEL_CALL Kel_VerifyTimeStamp(const char *content, const char *time,
                                         const char *signature);

/* ---- Base64 ------------------------------------------------------------ */

/* Encodes `count` bytes; `text` must hold 4 * ceil(count / 3) + 1 bytes. */
KEL_API void KEL_CALL Kel_to64frombits(char *text, const unsigned char *bytes, int count);

/* Decodes `text` into at most `limit` bytes (0: no limit). Returns the byte
 * count, 0 for a text that starts with a carriage return, or -1. */
KEL_API int KEL_CALL Kel_from64tobits(unsigned char *bytes, const char *text, int limit);

/* ---- Hex and text copy -------------------------------------------------- */

/* Copies `text` into a new buffer stored in *copy. Returns 0, or 0x00FFFFFE
 * for an empty text (and *copy is left alone). */
KEL_API int KEL_CALL Kel_GetCiphertext(const char *text, char **copy);

/* Writes 2 * count lowercase hex digits and a terminator into `hex`
 * (nothing at all when count is 0). Returns 0. */
KEL_API int KEL_CALL Kel_BinToHex(const unsigned char *bytes, char *hex, unsigned int count);

/* Converts `count` hex characters into count / 2 bytes. Returns 0. */
KEL_API int KEL_CALL Kel_HexToBin(unsigned char *bytes, const char *hex, unsigned int count);

/* ---- Local crypto -------------------------------------------------------- */

/* Returns a new 16-character random string (buffer of 18 bytes), or null. */
KEL_API char *KEL_CALL Kel_GetRadomString(void);

/* Encrypts `data` under `key` (16, 24 or 32 bytes). Returns the ciphertext
 * and its length in *resultLength, or null. */
KEL_API unsigned char *KEL_CALL Kel_AESEncryption(const unsigned char *data, int dataLength,
                                                  const unsigned char *key, int keyLength,
                                                  int *resultLength);

/* Decrypts what Kel_AESEncryption produced. Returns the plaintext and its
 * length in *resultLength, or null. */
KEL_API unsigned char *KEL_CALL Kel_AESDecryption(const unsigned char *data, int dataLength,
                                                  const unsigned char *key, int keyLength,
                                                  int *resultLength);

#ifdef __cplusplus
}
#endif

#endif /* KEL_KEL_H_ */
