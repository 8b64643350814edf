// Exposes the module's internal state to the tests that load the library the
// way a host does. Built only into the test build of the library.
#include "module/module_app.h"
#include "net/http_transport.h"

extern "C" {

__attribute__((visibility("default"))) const char *KelTesting_ServerKeyData() {
  return kel::ServerKey().Data();
}

__attribute__((visibility("default"))) int KelTesting_ServerKeyLength() {
  return kel::ServerKey().Length();
}

// https servers are then verified against the CA certificates in this PEM
// file only; null or "" returns to the system's store.
__attribute__((visibility("default"))) void KelTesting_TrustCaFile(const char *path) {
  kel::SetTransportCaFileForTesting(path == nullptr ? "" : path);
}

// 0: every later exchange opens a connection (and a TLS session) of its own
// and closes it at its end; any other value keeps connections, as the
// shipped library does.
__attribute__((visibility("default"))) void KelTesting_ReuseConnections(int reuse) {
  kel::SetTransportReuseForTesting(reuse != 0);
}

}  // extern "C"
