/* A host program built against an installed Kel: it calls a few exports and
 * checks what they return. Exits 0 when all is as expected. */
#include <kel/kel.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  char base64[8];
  char hex[7];
  char *copy = NULL;
  char *random = NULL;
  int failures = 0;

  Kel_to64frombits(base64, (const unsigned char *)"ABC", 3);
  if (strcmp(base64, "QUJD") != 0) {
    printf("base64 of ABC: %s\n", base64);
    ++failures;
  }
  Kel_BinToHex((const unsigned char *)"\x00\x0a\xff", hex, 3);
  if (strcmp(hex, "000aff") != 0) {
    printf("hex of 00 0a ff: %s\n", hex);
    ++failures;
  }
  if (Kel_GetCiphertext("copied", &copy) != 0 || strcmp(copy, "copied") != 0) {
    printf("text copy failed\n");
    ++failures;
  }
  Kel_ReleaseBuf(copy);
  /* Reaches into libkestro, the provider beside libkel. */
  random = Kel_GetRadomString();
  if (random == NULL || strlen(random) != 16) {
    printf("random string failed\n");
    ++failures;
  }
  Kel_ReleaseBuf(random);

  printf(failures == 0 ? "consumer: Kel works\n" : "consumer: %d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
