/* Loads a library file with dlopen, the way a host does, and prints what its
 * start-up loaded as the server key:
 *   module_probe LIBRARY       -> "loaded null" or "loaded LENGTH HEX-OF-DATA-TEXT"
 * Exit code 0 when the library loaded, 2 when it did not. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef const char *(*KeyDataFn)(void);
typedef int (*KeyLengthFn)(void);

int main(int argc, char **argv) {
  void *library;
  KeyDataFn key_data;
  KeyLengthFn key_length;
  const char *data;
  size_t i;

  if (argc != 2) {
    fprintf(stderr, "usage: module_probe LIBRARY\n");
    return 2;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  key_data = (KeyDataFn)dlsym(library, "KelTesting_ServerKeyData");
  key_length = (KeyLengthFn)dlsym(library, "KelTesting_ServerKeyLength");
  if (key_data == NULL || key_length == NULL) {
    fprintf(stderr, "library lacks the test hooks\n");
    return 2;
  }
  data = key_data();
  if (data == NULL) {
    printf("loaded null\n");
  } else {
    printf("loaded %d ", key_length());
    for (i = 0; i < strlen(data); ++i) printf("%02x", (unsigned char)data[i]);
    printf("\n");
  }
  dlclose(library);
  return 0;
}
