#include "doc/tag_reader.h"

namespace kel {

// Defined here so that the class has one home for its virtual table.
TagReader::~TagReader() = default;

}  // namespace kel
