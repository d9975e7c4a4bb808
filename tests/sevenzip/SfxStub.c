/* A stand-in self-extractor module for the tests: a small Windows program
   whose image is padded to a chosen size, so that 7z data appended to it
   starts where a real module's would. STUB_PAD sets the padding. */
#include <stdio.h>

#ifndef STUB_PAD
#define STUB_PAD 70000
#endif

static const unsigned char padding[STUB_PAD] = {1};

int main(int argc, char** argv) {
  (void)argv;
  printf("stub %u\n", (unsigned)padding[(unsigned)argc % STUB_PAD]);
  return 0;
}
