// Module start-up on Windows: DllMain runs the application object's start-up
// at process attach with the DLL's own instance handle.
#include <windows.h>

#include "module/module_app.h"
#include "module/module_path.h"

namespace kel {
namespace {

HINSTANCE g_instance = nullptr;  // set once at process attach

}  // namespace

const char kPathSeparator = '\\';

// The buffer GetModuleFileNameA is given: a longer module path counts as
// unknown, and the bare key name is tried instead.
const unsigned kModulePathBufferSize = MAX_PATH;

ModuleHandle OwnModule() { return g_instance; }

bool ModuleFileName(ModuleHandle module, char *buffer, unsigned size) {
  HMODULE handle = static_cast<HMODULE>(const_cast<void *>(module));
  DWORD length = GetModuleFileNameA(handle, buffer, size);
  // A result of `size` means the path was cut short.
  return length != 0 && length < size;
}

bool FileExists(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsRegularFile(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool EnvironmentValue(const char *name, char *buffer, unsigned size) {
  // The length without the terminator when the value fits; the size needed,
  // terminator included, when it does not; 0 when the variable is unset or
  // empty.
  DWORD length = GetEnvironmentVariableA(name, buffer, size);
  return length != 0 && length < size;
}

}  // namespace kel

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    kel::g_instance = instance;
    DisableThreadLibraryCalls(instance);
    return kel::TheModuleApp().InitInstance() ? TRUE : FALSE;
  }
  return TRUE;
}
