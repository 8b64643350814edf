// The primitives on OpenSSL 3 libcrypto (EVP interfaces only).
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>

#include <climits>
#include <memory>

#include "backend.h"
#include "signature_der.h"

namespace kestro {
namespace backend {
namespace {

// OpenSSL is initialised when this library is loaded, before any other user
// in the process (libcurl) can, and without its exit handler: that handler
// frees OpenSSL's state when the process exits, while another thread of the
// host may still be inside a call that uses it. The process's end frees the
// memory anyway. A host that initialised OpenSSL itself keeps its own choice.
[[maybe_unused]] const bool openssl_ready =
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

template <typename T, void (*Free)(T *)>
struct Deleter {
  void operator()(T *p) const { Free(p); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Sig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

struct BioFree {
  void operator()(BIO *bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

const char *GroupName(Curve curve) {
  switch (curve) {
    case Curve::kSecp256r1:
      return "prime256v1";
    case Curve::kSecp384r1:
      return "secp384r1";
    case Curve::kSecp521r1:
      return "secp521r1";
  }
  return nullptr;
}

bool CurveFromGroupName(const std::string &name, Curve *curve) {
  for (Curve c : {Curve::kSecp256r1, Curve::kSecp384r1, Curve::kSecp521r1}) {
    if (name == GroupName(c)) {
      *curve = c;
      return true;
    }
  }
  return false;
}

const EVP_MD *DigestOf(Hash hash) {
  switch (hash) {
    case Hash::kSha256:
      return EVP_sha256();
    case Hash::kSha384:
      return EVP_sha384();
    case Hash::kSha512:
      return EVP_sha512();
  }
  return nullptr;
}

const EVP_CIPHER *CbcCipherFor(std::size_t keySize) {
  switch (keySize) {
    case 16:
      return EVP_aes_128_cbc();
    case 24:
      return EVP_aes_192_cbc();
    case 32:
      return EVP_aes_256_cbc();
  }
  return nullptr;
}

bool RunCbc(bool encrypt, const Bytes &key, const unsigned char *iv, const unsigned char *in,
            std::size_t length, Bytes *out) {
  const EVP_CIPHER *cipher = CbcCipherFor(key.size());
  if (cipher == nullptr || length % 16 != 0 || length > INT_MAX) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
    return false;
  out->resize(length + 16);
  int written = 0;
  int final_written = 0;
  if (EVP_CipherUpdate(ctx.get(), out->data(), &written, in, static_cast<int>(length)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out->data() + written, &final_written) != 1)
    return false;
  out->resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(final_written));
  return true;
}

// An EVP_PKEY holding the public point on the named curve. OpenSSL rejects
// points that are not on the curve here.
PKey PublicKeyFromPoint(Curve curve, const Bytes &point) {
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME,
                                       const_cast<char *>(GroupName(curve)), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                        const_cast<unsigned char *>(point.data()), point.size()),
      OSSL_PARAM_construct_end(),
  };
  PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY *key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
    return nullptr;
  return PKey(key);
}

bool KeyCurve(EVP_PKEY *key, Curve *curve) {
  char name[64];
  std::size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name, &length) !=
      1)
    return false;
  return CurveFromGroupName(std::string(name, length), curve);
}

}  // namespace

bool AesCbcEncryptBlocks(const Bytes &key, const unsigned char *iv, const unsigned char *in,
                         std::size_t length, Bytes *out) {
  return RunCbc(true, key, iv, in, length, out);
}

bool AesCbcDecryptBlocks(const Bytes &key, const unsigned char *iv, const unsigned char *in,
                         std::size_t length, Bytes *out) {
  return RunCbc(false, key, iv, in, length, out);
}

bool Digest(Hash hash, const unsigned char *data, std::size_t length, Bytes *digest) {
  unsigned char buffer[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  static const unsigned char kNothing = 0;
  if (EVP_Digest(length == 0 ? &kNothing : data, length, buffer, &size, DigestOf(hash), nullptr) !=
      1)
    return false;
  digest->assign(buffer, buffer + size);
  return true;
}

bool EcdsaVerifyDigest(Curve curve, const Bytes &point, const Bytes &digest, const Bytes &rs) {
  std::size_t size = CoordinateSize(curve);
  if (rs.size() != 2 * size) return false;
  PKey key = PublicKeyFromPoint(curve, point);
  if (!key) return false;

  // OpenSSL verifies the DER form; build it from r and s.
  Bytes der = EncodeSignatureDer(rs);
  PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
         EVP_PKEY_verify(ctx.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

bool EcdsaSignDigest(const std::string &privateKeyPem, const Bytes &digest, Curve *curve,
                     Bytes *rs) {
  if (privateKeyPem.size() > INT_MAX) return false;
  Bio bio(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
  if (!bio) return false;
  // An encrypted key fails here: with no callback, OpenSSL would ask for the
  // pass phrase on the terminal and wait.
  pem_password_cb *no_pass_phrase = [](char *, int, int, void *) { return -1; };
  PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, no_pass_phrase, nullptr));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC || !KeyCurve(key.get(), curve))
    return false;

  PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  std::size_t der_size = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &der_size, digest.data(), digest.size()) != 1)
    return false;
  Bytes der(der_size);
  if (EVP_PKEY_sign(ctx.get(), der.data(), &der_size, digest.data(), digest.size()) != 1)
    return false;
  der.resize(der_size);

  // Take r and s out of the DER form, at the curve's fixed size.
  const unsigned char *p = der.data();
  Sig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  if (!sig) return false;
  std::size_t size = CoordinateSize(*curve);
  rs->assign(2 * size, 0);
  return BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs->data(), static_cast<int>(size)) ==
             static_cast<int>(size) &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs->data() + size, static_cast<int>(size)) ==
             static_cast<int>(size);
}

bool GenerateKeyPair(Curve curve, Bytes *point, std::string *privateKeyPem) {
  PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME,
                                       const_cast<char *>(GroupName(curve)), 0),
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                       const_cast<char *>("uncompressed"), 0),
      OSSL_PARAM_construct_end(),
  };
  EVP_PKEY *raw = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_params(ctx.get(), params) != 1 || EVP_PKEY_generate(ctx.get(), &raw) != 1)
    return false;
  PKey key(raw);

  std::size_t point_size = 1 + 2 * CoordinateSize(curve);
  point->assign(point_size, 0);
  std::size_t written = 0;
  if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point->data(),
                                      point->size(), &written) != 1 ||
      written != point_size || (*point)[0] != 0x04)
    return false;

  // PEM_write_bio_PrivateKey writes PKCS#8 ("BEGIN PRIVATE KEY").
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
    return false;
  char *data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  if (length <= 0 || data == nullptr) return false;
  privateKeyPem->assign(data, static_cast<std::size_t>(length));
  return true;
}

}  // namespace backend
}  // namespace kestro
