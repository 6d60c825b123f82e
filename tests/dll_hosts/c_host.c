/* A plain C host, compiled on its own against common.h and the import
 * library: it runs in a folder holding only itself, common.dll and
 * plain.txt, and prints the file key of plain.txt. */
#include <stdio.h>

#include <filedist/common.h>

int main(void) {
  char key[33];
  GetFileKey("plain.txt", key);
  printf("key %s\n", key);
  return 0;
}
