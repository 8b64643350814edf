#include "api/secure_wipe.h"

namespace kel {
namespace {

// Growing within the capacity never reallocates; then every byte up to the
// capacity is overwritten explicitly, spare bytes left from earlier
// contents included.
template <typename Text>
void WipeWholeBlock(Text *text) noexcept {
  text->resize(text->capacity());
  WipeBytes(&(*text)[0], text->size());
  text->clear();
}

}  // namespace

void WipeText(std::string *text) noexcept { WipeWholeBlock(text); }

void SecretText::Wipe() noexcept { WipeWholeBlock(static_cast<WipedString *>(this)); }

}  // namespace kel
