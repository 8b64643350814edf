// Readers of the tag-value documents that the seal server answers with: a
// flat run of elements "<name>value</name>", looked up by name.
#ifndef KEL_DOC_TAG_READER_H_
#define KEL_DOC_TAG_READER_H_

namespace kel {

class TagReader {
 public:
  TagReader() = default;
  TagReader(const TagReader &) = delete;
  TagReader &operator=(const TagReader &) = delete;

  // Reads the document `text` up to its first zero byte. `length`, the
  // caller's count of the text's bytes, is a hint for sizing storage and
  // never decides what is read: a wrong one costs time, not correctness.
  // True when the whole text was read without a fault. A null or empty text
  // returns false and keeps what the reader held before.
  virtual bool Parse(const char *text, int length) = 0;

  // The value stored under `name` (exact byte-wise match), or null when there
  // is none. An element with an empty value gives an empty text, not null.
  // The pointer stays valid until the next Parse or the reader's destruction.
  virtual const char *Get(const char *name) const = 0;

  virtual ~TagReader();
};

}  // namespace kel

#endif  // KEL_DOC_TAG_READER_H_
