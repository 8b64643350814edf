// The owning handle through which callers use a tag-value reader: it lives
// in one function's scope and takes the reader with it.
#ifndef KEL_DOC_TAG_READER_HANDLE_H_
#define KEL_DOC_TAG_READER_HANDLE_H_

#include "doc/tag_reader.h"

namespace kel {

class TagReaderHandle {
 public:
  // Holds a new FlatTagReader. Throws std::bad_alloc when there is no
  // memory for it: an empty handle would read every text as no document.
  TagReaderHandle();
  // Takes ownership of `reader`, which may be null (an empty handle).
  explicit TagReaderHandle(TagReader *reader) : reader_(reader) {}
  ~TagReaderHandle() { Destroy(); }

  TagReaderHandle(const TagReaderHandle &) = delete;
  TagReaderHandle &operator=(const TagReaderHandle &) = delete;

  // Forward to the held reader; an empty handle answers false and null.
  bool Parse(const char *text, int length);
  const char *Get(const char *name) const;

  // Deletes the held reader and leaves the handle empty. Calling it on an
  // empty handle does nothing, so it may run any number of times.
  void Destroy();

  bool empty() const { return reader_ == nullptr; }

 private:
  TagReader *reader_;
};

}  // namespace kel

#endif  // KEL_DOC_TAG_READER_HANDLE_H_
