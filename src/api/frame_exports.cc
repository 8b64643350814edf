// The two exports of the call frame itself.
#include <cstdlib>

#include "api/host_buffer.h"
#include "api/last_error.h"
#include "kel/kel.h"

extern "C" {

int KEL_CALL Kel_ReleaseBuf(void *buffer) {
  if (buffer == nullptr) return 1;
  std::free(buffer);
  return 0;
}

char *KEL_CALL Kel_GetLastErr(void) { return kel::NewHostBuffer(kel::LastErrorText()); }

}  // extern "C"
