#include "api/secure_wipe.h"

namespace kel {

void WipeText(std::string *text) noexcept {
  // Growing within the capacity never reallocates, and fills the spare
  // bytes with zeros; the rest is overwritten explicitly.
  std::size_t used = text->size();
  text->resize(text->capacity());
  WipeBytes(&(*text)[0], used);
  text->clear();
}

}  // namespace kel
