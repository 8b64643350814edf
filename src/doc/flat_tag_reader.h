// The tag-value document reader: elements do not nest, and '_' directly
// before '<' or '>' makes that delimiter ordinary text.
#ifndef KEL_DOC_FLAT_TAG_READER_H_
#define KEL_DOC_FLAT_TAG_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/secure_wipe.h"
#include "doc/tag_reader.h"

namespace kel {

class FlatTagReader : public TagReader {
 public:
  FlatTagReader() = default;
  ~FlatTagReader() override;

  // A non-empty text replaces the whole content. On false, the elements read
  // before the fault stay stored; callers treat the reader as failed. The
  // names and values read must fit in 4 GiB; an element that would take
  // them past that is a fault.
  //
  // A positive `length` sizes the reader's first block, which lets it read
  // the text in one pass; the text is still read up to its first zero only,
  // and a length that is too short costs a second pass, never a fault.
  // While it parses, the reader holds at most the larger of `length` + 1
  // and the size of the text, plus 4 bytes per element (an element takes at
  // least 5 bytes of text); once done, the names and values it keeps, plus
  // 4 bytes per element.
  bool Parse(const char *text, int length) override;
  const char *Get(const char *name) const override;

  // Removes all entries and gives their memory back.
  void Clear();

  // Removes the escapes from one value, in place: every '_' directly followed
  // by '<' or '>' is dropped, once ("_<" gives "<", "__<" gives "_<"). A '_'
  // at the very end, or before any other byte, stays.
  static void Unescape(std::string *value);

  // The same on a raw block; returns the new size. Runs in one forward pass.
  static std::size_t Unescape(char *data, std::size_t size);

 private:
  // Gives the block `size` bytes, keeping what it holds up to that size; an
  // empty block is none.
  void ResizeBlock(std::size_t size);
  // Orders the index for Get, one entry per name, and returns `result`.
  bool Index(bool result);

  // Each element read, in the order of the text: its name and its
  // unescaped value, both zero-terminated, the value right after the name.
  // A document may be a decrypted answer: the block is wiped whenever it is
  // given back, grown, trimmed or released.
  SecretText block_;
  // Where each stored name starts in block_, one per name (the last element
  // of a name), sorted by name so that Get can search it.
  std::vector<std::uint32_t> index_;
};

}  // namespace kel

#endif  // KEL_DOC_FLAT_TAG_READER_H_
