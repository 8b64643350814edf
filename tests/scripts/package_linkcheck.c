/* A host program built the way Microsoft's toolchain builds one: compiled for
 * the MSVC target and linked by lld-link against the package's Kel.lib alone,
 * without a C runtime (package_smoke.sh). Its exit code is 0 when each export
 * answered as expected, else the number of the first that did not. */
#include <kel/kel.h>

int entry(void) {
  char hex[7] = {0};
  char *copy = 0;
  int status = 0;
  Kel_BinToHex((const unsigned char *)"\x00\x0a\xff", hex, 3);
  if (hex[0] != '0' || hex[3] != 'a' || hex[5] != 'f' || hex[6] != 0) return 1;
  if (Kel_GetCiphertext("abc", &copy) != 0 || copy == 0 || copy[2] != 'c') return 2;
  if (Kel_ReleaseBuf(copy) != 0 || Kel_ReleaseBuf(0) != 1) return 3;
  /* Through the decorated name _Kel_VerifySeal@24, which Kel.lib binds to the
   * undecorated stdcall export. Port 1 refuses the connection. */
  if (Kel_VerifySeal("http://127.0.0.1:1/", "n", "i", "t", 1, &status) != 1 || status != 1)
    return 4;
  return 0;
}
