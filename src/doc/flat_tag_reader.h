// The tag-value document reader: elements do not nest, and '_' directly
// before '<' or '>' makes that delimiter ordinary text.
#ifndef KEL_DOC_FLAT_TAG_READER_H_
#define KEL_DOC_FLAT_TAG_READER_H_

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "doc/tag_reader.h"

namespace kel {

class FlatTagReader : public TagReader {
 public:
  FlatTagReader() = default;
  ~FlatTagReader() override;

  // A non-empty text replaces the whole content. On false, the elements read
  // before the fault stay stored; callers treat the reader as failed.
  bool Parse(const char *text, int length) override;
  const char *Get(const char *name) const override;

  // Removes all entries.
  void Clear();

  // Removes the escapes from one value, in place: every '_' directly followed
  // by '<' or '>' is dropped, once ("_<" gives "<", "__<" gives "_<"). A '_'
  // at the very end, or before any other byte, stays.
  static void Unescape(std::string *value);

  // The same on a raw block; returns the new size. Runs in one forward pass.
  static std::size_t Unescape(char *data, std::size_t size);

 private:
  // Stores the unescaped value under `name`; an existing entry is replaced.
  void Store(std::string_view name, const char *value, std::size_t value_size);

  // Names compare byte-wise; std::less<> lets Get look up a C text without
  // building a std::string.
  std::map<std::string, std::string, std::less<>> entries_;
};

}  // namespace kel

#endif  // KEL_DOC_FLAT_TAG_READER_H_
