// Module start-up on POSIX systems: the library finds its own file with
// dladdr and loads the key file once, when the dynamic loader runs its
// initialisers.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Room for any path the system can open: no shorter limit than the
// system's own keeps a library in a deep folder from missing its key.
const unsigned kModulePathBufferSize = PATH_MAX;

ModuleHandle OwnModule() { return &kModuleAnchor; }

bool ModuleFileName(ModuleHandle module, char *buffer, unsigned size) {
  Dl_info info;
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return false;
  }
  // The loader records the path it was given. A symbolic link is not
  // followed: the key belongs beside the name the host loaded. A relative
  // name is taken against the directory current now, at load time.
  if (info.dli_fname[0] == '/') return CopyPath(info.dli_fname, buffer, size);
  if (getcwd(buffer, size) == nullptr) return false;
  std::size_t directory = std::strlen(buffer);
  std::size_t name = std::strlen(info.dli_fname);
  if (directory + 1 + name >= size) return false;
  buffer[directory] = '/';
  std::memcpy(buffer + directory + 1, info.dli_fname, name + 1);
  return true;
}

bool FileExists(const char *path) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  return !S_ISDIR(status.st_mode);
}

bool IsRegularFile(const char *path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool EnvironmentValue(const char *name, char *buffer, unsigned size) {
  const char *value = secure_getenv(name);
  return value != nullptr && CopyPath(value, buffer, size);
}

namespace {

// Runs once per loaded copy of the library, before dlopen returns. It never
// fails the load: a missing key file only leaves the key empty.
__attribute__((constructor)) void StartModule() { (void)TheModuleApp().InitInstance(); }

}  // namespace
}  // namespace kel
