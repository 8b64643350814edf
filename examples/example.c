/* A small host program: calls the library's local exports and prints what
 * they return. */
#include <stdio.h>
#include <string.h>

#include "kel/kel.h"

static void PrintLastError(const char *after) {
  char *text = Kel_GetLastErr();
  printf("  last error after %s: %s\n", after, text != NULL && text[0] ? "(set)" : "(empty)");
  Kel_ReleaseBuf(text);
}

int main(void) {
  const char *message = "Kel example";
  char base64[64];
  unsigned char decoded[64];
  char hex[64];
  unsigned char bytes[32];
  char *copy = NULL;
  int count;

  printf("Kel: the library's local helpers\n");

  Kel_to64frombits(base64, (const unsigned char *)message, (int)strlen(message));
  printf("  base64 of \"%s\": %s\n", message, base64);
  count = Kel_from64tobits(decoded, base64, 0);
  printf("  decoded back: %d bytes, \"%.*s\"\n", count, count > 0 ? count : 0,
         (const char *)decoded);

  Kel_BinToHex((const unsigned char *)"\x00\x0a\xff", hex, 3);
  printf("  hex of 00 0a ff: %s\n", hex);
  Kel_HexToBin(bytes, "4a4B", 4);
  printf("  bytes of \"4a4B\": 0x%02X 0x%02X\n", bytes[0], bytes[1]);

  if (Kel_GetCiphertext("copied text", &copy) == 0) {
    printf("  text copy: \"%s\"\n", copy);
    Kel_ReleaseBuf(copy);
  }
  printf("  copy of the empty text returns 0x%08X\n", (unsigned)Kel_GetCiphertext("", &copy));
  PrintLastError("the copies");

  printf("  Kel_ReleaseBuf(NULL) returns %d\n", Kel_ReleaseBuf(NULL));
  return 0;
}
