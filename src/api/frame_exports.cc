// The two exports of the call frame itself.
#include <cstdlib>

#include "api/export_boundary.h"
#include "api/last_error.h"
#include "kel/kel.h"

extern "C" {

int KEL_CALL Kel_ReleaseBuf(void *buffer) {
  return kel::ExportBoundary(1, nullptr, [&] {
    if (buffer == nullptr) return 1;
    std::free(buffer);
    return 0;
  });
}

char *KEL_CALL Kel_GetLastErr(void) {
  return kel::ExportBoundary<char *>(nullptr, nullptr, [] { return kel::NewLastErrorBuffer(); });
}

}  // extern "C"
