#include "aes_layout.h"

#include "backend.h"

namespace kestro {

bool IsAesKeySize(std::size_t size) { return size == 16 || size == 24 || size == 32; }

bool EncryptWithIv(const Bytes &key, const unsigned char *data, std::size_t length, Bytes *out) {
  if (!IsAesKeySize(key.size())) return false;
  unsigned char iv[kAesBlockSize];
  if (!backend::RandomBytes(iv, sizeof iv)) return false;

  // PKCS#7: always 1 to 16 bytes, each holding the count.
  std::size_t pad = kAesBlockSize - length % kAesBlockSize;
  Bytes padded(data, data + length);
  padded.insert(padded.end(), pad, static_cast<unsigned char>(pad));

  Bytes cipher;
  if (!backend::AesCbcEncryptBlocks(key, iv, padded.data(), padded.size(), &cipher)) return false;
  out->assign(iv, iv + kAesBlockSize);
  out->insert(out->end(), cipher.begin(), cipher.end());
  return true;
}

bool DecryptWithIv(const Bytes &key, const unsigned char *data, std::size_t length, Bytes *out) {
  if (!IsAesKeySize(key.size())) return false;
  // The IV and at least one block, which holds the padding.
  if (length < 2 * kAesBlockSize || length % kAesBlockSize != 0) return false;
  if (!backend::AesCbcDecryptBlocks(key, data, data + kAesBlockSize, length - kAesBlockSize, out))
    return false;

  // PKCS#7: the last byte n is 1 to 16, and so are the n bytes that end the data.
  unsigned char pad = out->back();
  unsigned bad = pad == 0 || pad > kAesBlockSize;
  if (!bad) {
    for (std::size_t i = out->size() - pad; i < out->size(); ++i) bad |= (*out)[i] ^ pad;
  }
  if (bad) {
    out->clear();
    return false;
  }
  out->resize(out->size() - pad);
  return true;
}

}  // namespace kestro
