/*
 * Kestro: the crypto provider behind Kel.
 *
 * Six functions make up the provider interface that Kel imports by name; any
 * library that exports them with the same arguments, buffer rules and results
 * can take this one's place. The functions after them are the server-side
 * counterparts (key generation, encryption of answers, signing) for servers,
 * tools and tests; Kel never calls them.
 *
 * Buffers: every pointer that a function returns, or stores through a
 * `char **` out-parameter, comes from the provider and is released with
 * Ecc_Free. Such buffers are always followed by one zero byte, also when
 * they hold binary data.
 *
 * Formats:
 *  - A key given as text is used as its bytes; 16, 24 or 32 bytes select
 *    AES-128, AES-192 or AES-256, any other length fails.
 *  - Encrypted texts: standard base64 (padded; ASCII white space is ignored
 *    when decoding) of a 16-byte IV followed by the AES-CBC ciphertext with
 *    PKCS#7 padding.
 *  - Public keys: "ecdsa-<curve>-<hash>+<hex>" where <curve> is secp256r1,
 *    secp384r1 or secp521r1, <hash> is sha256, sha384 or sha512 and <hex> is
 *    the lowercase hexadecimal of the uncompressed point (04, X, Y).
 *  - Signatures: standard base64 of the DER ECDSA signature over <hash>(data),
 *    as `openssl dgst -<hash> -sign` writes it.
 *  - Private keys: PKCS#8 PEM.
 *
 * Calling convention: KESTRO_CALL, which is __cdecl on 32-bit Windows and the
 * platform's default everywhere else.
 */
#ifndef KESTRO_KESTRO_H_
#define KESTRO_KESTRO_H_

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRO_CALL __cdecl
#else
#define KESTRO_CALL
#endif

#if defined(_WIN32)
#if defined(KESTRO_BUILDING_LIBRARY)
#define KESTRO_API __declspec(dllexport)
#else
#define KESTRO_API __declspec(dllimport)
#endif
#elif defined(KESTRO_BUILDING_LIBRARY)
#define KESTRO_API __attribute__((visibility("default")))
#else
#define KESTRO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The provider interface ------------------------------------------- */

/* Writes `count` characters drawn uniformly from A-Z, a-z and 0-9 into
 * `buffer` (no terminator is added). Returns 0, or -1 on failure. */
KESTRO_API int KESTRO_CALL Gen_Random_String(char *buffer, int count);

/* Encrypts `dataLength` bytes under a raw key of 16, 24 or 32 bytes. Mode 2,
 * the only mode, is AES-CBC with PKCS#7 padding and a fresh random 16-byte IV
 * written in front of the ciphertext. Returns the result and stores its
 * length in *resultLength, or returns null. */
KESTRO_API unsigned char *KESTRO_CALL AES_Encryption(const unsigned char *data, int dataLength,
                                                     const unsigned char *key, int keyLength,
                                                     int *resultLength, int mode);

/* Decrypts what AES_Encryption produced. Returns the plaintext and stores its
 * length (possibly 0) in *resultLength, or returns null. */
KESTRO_API unsigned char *KESTRO_CALL AES_Decryption(const unsigned char *data, int dataLength,
                                                     const unsigned char *key, int keyLength,
                                                     int *resultLength);

/* Decrypts an encrypted text under a text key. Returns the zero-terminated
 * plaintext, or null on any failure (bad base64, length, padding or key). */
KESTRO_API char *KESTRO_CALL AES_Decryption_CH(const char *key, const char *cipherText);

/* Returns 1 when `signature` is a valid signature by `publicKey` over the
 * `dataLength` bytes at `data`, and 0 otherwise (malformed texts included). */
KESTRO_API unsigned char KESTRO_CALL ECDSA_Verify_CH(const char *publicKey,
                                                     const unsigned char *data, int dataLength,
                                                     const char *signature);

/* Releases the provider buffer held in *buffer and sets *buffer to null.
 * A null `buffer` or a null *buffer is ignored. Returns 0. */
KESTRO_API int KESTRO_CALL Ecc_Free(void **buffer);

/* ---- Server-side counterparts ------------------------------------------ */

/* Generates a key pair for `algorithm`, the public-key text up to the '+'
 * (for example "ecdsa-secp521r1-sha512"). On success returns 0 and stores the
 * public-key text in *publicKey and the PKCS#8 PEM private key in
 * *privateKey; returns -1 otherwise and stores nothing. */
KESTRO_API int KESTRO_CALL ECDSA_Gen_Key_CH(const char *algorithm, char **publicKey,
                                            char **privateKey);

/* Encrypts the zero-terminated `plainText` under a text key into the format
 * that AES_Decryption_CH reads (base64 on one line). Returns null on failure. */
KESTRO_API char *KESTRO_CALL AES_Encryption_CH(const char *key, const char *plainText);

/* Signs `dataLength` bytes with a PKCS#8 PEM private key, hashing with
 * `hash` ("sha256", "sha384" or "sha512"). Returns the signature text, or
 * null on failure. */
KESTRO_API char *KESTRO_CALL ECDSA_Sign_CH(const char *privateKey, const char *hash,
                                           const unsigned char *data, int dataLength);

#ifdef __cplusplus
}
#endif

#endif /* KESTRO_KESTRO_H_ */
