#include "signature_der.h"

namespace kestro {
namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kInteger = 0x02;

// Reads a tag and a definite length at der[*pos]; advances *pos to the content.
bool ReadHeader(const Bytes &der, std::size_t *pos, unsigned char tag, std::size_t *length) {
  if (*pos + 2 > der.size() || der[*pos] != tag) return false;
  unsigned char first = der[*pos + 1];
  *pos += 2;
  if (first < 0x80) {
    *length = first;
  } else if (first == 0x81) {
    // Long form with one byte; lengths below 128 must use the short form.
    if (*pos >= der.size() || der[*pos] < 0x80) return false;
    *length = der[*pos];
    *pos += 1;
  } else {
    return false;  // signatures of these curves never need more
  }
  return *length <= der.size() - *pos;
}

bool ReadInteger(const Bytes &der, std::size_t *pos, std::size_t size, unsigned char *out) {
  std::size_t length;
  if (!ReadHeader(der, pos, kInteger, &length) || length == 0) return false;
  const unsigned char *value = der.data() + *pos;
  *pos += length;
  if (value[0] & 0x80) return false;  // negative
  if (value[0] == 0) {
    // A leading zero is allowed only to keep the next byte's high bit clear.
    if (length == 1) return false;  // zero is not a valid r or s
    if (!(value[1] & 0x80)) return false;
    ++value;
    --length;
  }
  if (length > size) return false;
  for (std::size_t i = 0; i < size - length; ++i) out[i] = 0;
  for (std::size_t i = 0; i < length; ++i) out[size - length + i] = value[i];
  return true;
}

void AppendLength(Bytes *der, std::size_t length) {
  if (length >= 0x80) der->push_back(0x81);
  der->push_back(static_cast<unsigned char>(length));
}

void AppendInteger(Bytes *der, const unsigned char *value, std::size_t size) {
  while (size > 1 && value[0] == 0) {
    ++value;
    --size;
  }
  bool pad = value[0] & 0x80;
  der->push_back(kInteger);
  AppendLength(der, size + (pad ? 1 : 0));
  if (pad) der->push_back(0);
  der->insert(der->end(), value, value + size);
}

}  // namespace

bool DecodeSignatureDer(const Bytes &der, std::size_t size, Bytes *rs) {
  std::size_t pos = 0;
  std::size_t length;
  if (!ReadHeader(der, &pos, kSequence, &length) || pos + length != der.size()) return false;
  rs->assign(2 * size, 0);
  return ReadInteger(der, &pos, size, rs->data()) &&
         ReadInteger(der, &pos, size, rs->data() + size) && pos == der.size();
}

Bytes EncodeSignatureDer(const Bytes &rs) {
  std::size_t size = rs.size() / 2;
  Bytes integers;
  AppendInteger(&integers, rs.data(), size);
  AppendInteger(&integers, rs.data() + size, size);
  Bytes der;
  der.push_back(kSequence);
  AppendLength(&der, integers.size());
  der.insert(der.end(), integers.begin(), integers.end());
  return der;
}

}  // namespace kestro
