// Module start-up on POSIX systems: the library finds its own file with
// dladdr and loads the key file once, when the dynamic loader runs its
// initialisers.
#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "module/module_app.h"
#include "module/module_path.h"

namespace kel {
namespace {

// Any object inside this library identifies it to dladdr.
const char kModuleAnchor = 0;

bool CopyPath(const char *path, char *buffer, unsigned size) {
  std::size_t length = std::strlen(path);
  if (length >= size) return false;
  std::memcpy(buffer, path, length + 1);
  return true;
}

}  // namespace

const char kPathSeparator = '/';

ModuleHandle OwnModule() { return &kModuleAnchor; }

bool ModuleFileName(ModuleHandle module, char *buffer, unsigned size) {
  Dl_info info;
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return false;
  }
  // The loader records the name it was given, which may be relative to the
  // directory current at load time; resolve it while that still holds.
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) != nullptr) return CopyPath(resolved, buffer, size);
  return CopyPath(info.dli_fname, buffer, size);
}

bool FileExists(const char *path) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  return !S_ISDIR(status.st_mode);
}

namespace {

// Runs once per loaded copy of the library, before dlopen returns. It never
// fails the load: a missing key file only leaves the key empty.
__attribute__((constructor)) void StartModule() { (void)TheModuleApp().InitInstance(); }

}  // namespace
}  // namespace kel
