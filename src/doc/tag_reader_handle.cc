#include "doc/tag_reader_handle.h"

#include "doc/flat_tag_reader.h"

namespace kel {

TagReaderHandle::TagReaderHandle() : reader_(new FlatTagReader) {}

bool TagReaderHandle::Parse(const char *text, int length) {
  return reader_ != nullptr && reader_->Parse(text, length);
}

const char *TagReaderHandle::Get(const char *name) const {
  return reader_ != nullptr ? reader_->Get(name) : nullptr;
}

void TagReaderHandle::Destroy() {
  delete reader_;
  reader_ = nullptr;
}

}  // namespace kel
