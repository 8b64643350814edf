// The primitives on libgcrypt, for the Windows build: the library is linked
// statically, so KESTRO.dll depends on nothing beyond the system, and it has
// ECDSA on all three curves (Wine's CNG, for one, lacks P-521).
#include <gcrypt.h>

#include <climits>
#include <memory>

#include "backend.h"

namespace kestro {
namespace backend {
namespace {

// libgcrypt must be initialised once before its first use; a function-local
// static makes that happen exactly once, also with several threads.
bool Ready() {
  static const bool ready = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

struct CipherClose {
  void operator()(gcry_cipher_hd_t handle) const { gcry_cipher_close(handle); }
};
using Cipher = std::unique_ptr<gcry_cipher_handle, CipherClose>;

struct SexpRelease {
  void operator()(gcry_sexp_t sexp) const { gcry_sexp_release(sexp); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpRelease>;

struct MpiRelease {
  void operator()(gcry_mpi_t mpi) const { gcry_mpi_release(mpi); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiRelease>;

int CipherFor(std::size_t keySize) {
  switch (keySize) {
    case 16:
      return GCRY_CIPHER_AES128;
    case 24:
      return GCRY_CIPHER_AES192;
    case 32:
      return GCRY_CIPHER_AES256;
  }
  return 0;
}

int DigestOf(Hash hash) {
  switch (hash) {
    case Hash::kSha256:
      return GCRY_MD_SHA256;
    case Hash::kSha384:
      return GCRY_MD_SHA384;
    case Hash::kSha512:
      return GCRY_MD_SHA512;
  }
  return 0;
}

const char *CurveOf(Curve curve) {
  switch (curve) {
    case Curve::kSecp256r1:
      return "NIST P-256";
    case Curve::kSecp384r1:
      return "NIST P-384";
    case Curve::kSecp521r1:
      return "NIST P-521";
  }
  return nullptr;
}

std::size_t OrderBits(Curve curve) {
  switch (curve) {
    case Curve::kSecp256r1:
      return 256;
    case Curve::kSecp384r1:
      return 384;
    case Curve::kSecp521r1:
      return 521;
  }
  return 0;
}

bool RunCbc(bool encrypt, const Bytes &key, const unsigned char *iv, const unsigned char *in,
            std::size_t length, Bytes *out) {
  int algorithm = CipherFor(key.size());
  if (!Ready() || algorithm == 0 || length % 16 != 0) return false;
  gcry_cipher_hd_t raw = nullptr;
  if (gcry_cipher_open(&raw, algorithm, GCRY_CIPHER_MODE_CBC, 0) != 0) return false;
  Cipher cipher(raw);
  if (gcry_cipher_setkey(raw, key.data(), key.size()) != 0 || gcry_cipher_setiv(raw, iv, 16) != 0)
    return false;
  out->assign(length, 0);
  if (length == 0) return true;
  gcry_error_t error = encrypt ? gcry_cipher_encrypt(raw, out->data(), length, in, length)
                               : gcry_cipher_decrypt(raw, out->data(), length, in, length);
  return error == 0;
}

// The digest as the number that ECDSA signs: its leftmost bits, as many as
// the group order has. Truncating here, bit-exactly, leaves nothing for the
// library to guess from the number's size (a digest with leading zero bytes).
Mpi DigestNumber(Curve curve, const Bytes &digest) {
  gcry_mpi_t raw = nullptr;
  if (gcry_mpi_scan(&raw, GCRYMPI_FMT_USG, digest.data(), digest.size(), nullptr) != 0)
    return nullptr;
  Mpi number(raw);
  std::size_t bits = 8 * digest.size();
  if (bits > OrderBits(curve))
    gcry_mpi_rshift(raw, raw, static_cast<unsigned>(bits - OrderBits(curve)));
  return number;
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
  int algorithm = DigestOf(hash);
  if (!Ready() || algorithm == 0) return false;
  digest->assign(gcry_md_get_algo_dlen(algorithm), 0);
  static const unsigned char kNothing = 0;
  gcry_md_hash_buffer(algorithm, digest->data(), length == 0 ? &kNothing : data, length);
  return true;
}

bool EcdsaVerifyDigest(Curve curve, const Bytes &point, const Bytes &digest, const Bytes &rs) {
  std::size_t size = CoordinateSize(curve);
  if (!Ready() || rs.size() != 2 * size || point.size() > INT_MAX) return false;
  Mpi number = DigestNumber(curve, digest);
  if (!number) return false;

  gcry_sexp_t raw = nullptr;
  if (gcry_sexp_build(&raw, nullptr, "(public-key (ecc (curve %s) (q %b)))", CurveOf(curve),
                      static_cast<int>(point.size()), point.data()) != 0)
    return false;
  Sexp key(raw);
  if (gcry_sexp_build(&raw, nullptr, "(data (flags raw) (value %M))", number.get()) != 0)
    return false;
  Sexp data(raw);
  if (gcry_sexp_build(&raw, nullptr, "(sig-val (ecdsa (r %b) (s %b)))", static_cast<int>(size),
                      rs.data(), static_cast<int>(size), rs.data() + size) != 0)
    return false;
  Sexp signature(raw);
  // The library checks that the point lies on the curve before it verifies.
  return gcry_pk_verify(signature.get(), data.get(), key.get()) == 0;
}

// The server-side counterparts need PKCS#8 PEM, which libgcrypt does not
// read or write; the Windows provider offers the client's functions only.
bool EcdsaSignDigest(const std::string &, const Bytes &, Curve *, Bytes *) { return false; }

bool GenerateKeyPair(Curve, Bytes *, std::string *) { return false; }

}  // namespace backend
}  // namespace kestro
