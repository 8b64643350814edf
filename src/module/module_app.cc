#include "module/module_app.h"

#include "module/module_path.h"

namespace kel {
namespace {

constexpr char kKeyFileName[] = "pubkey.key";
constexpr unsigned kPathBufferSize = 260;

}  // namespace

bool ModuleApp::InitInstance() {
  char path[kPathBufferSize] = {};
  // A path that does not fit (or an unknown module path) counts as no file
  // beside the library; the bare name then resolves against the current
  // directory. Testing the result as well as FileExists keeps a leftover
  // module file name in the buffer from ever being loaded as the key.
  bool beside =
      GetModuleFilePath(OwnModule(), kKeyFileName, path, kPathBufferSize) && FileExists(path);
  LoadServerKey(beside ? path : kKeyFileName);
  return true;
}

ModuleApp &TheModuleApp() {
  static ModuleApp app;
  return app;
}

}  // namespace kel
