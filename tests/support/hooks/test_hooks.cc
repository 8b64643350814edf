// Exposes the module's internal state to the tests that load the library the
// way a host does. Built only into the test build of the library.
#include "module/module_app.h"

extern "C" {

__attribute__((visibility("default"))) const char *KelTesting_ServerKeyData() {
  return kel::ServerKey().Data();
}

__attribute__((visibility("default"))) int KelTesting_ServerKeyLength() {
  return kel::ServerKey().Length();
}

}  // extern "C"
