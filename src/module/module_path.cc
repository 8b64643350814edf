#include "module/module_path.h"

#include <cstring>

namespace kel {

bool GetModuleFilePath(ModuleHandle module, const char *name, char *buffer, unsigned size) {
  if (module == nullptr) return false;
  if (!ModuleFileName(module, buffer, size)) {
    if (size != 0) buffer[0] = '\0';
    return false;
  }
  char *separator = std::strrchr(buffer, kPathSeparator);
  if (separator != nullptr) separator[1] = '\0';
  if (std::strlen(name) + std::strlen(buffer) >= size) return false;
  std::strcat(buffer, name);
  return true;
}

}  // namespace kel
