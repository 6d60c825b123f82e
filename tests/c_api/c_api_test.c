/* A plain C host of the shared library: the public header must compile as C,
 * and the exports must work through it with the documented ownership. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filedist/common.h>

static int failures = 0;

#define CHECK(cond)                                                  \
  do {                                                               \
    if (!(cond)) {                                                   \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                    \
    }                                                                \
  } while (0)

int main(void) {
  const char* list_path = "c_api_test_list.dat";
  const char* key_path = "c_api_test_key.txt";
  VersionEntry* records = NULL;
  int count = -7;
  char key[33];
  FILE* file;

  CHECK(sizeof(VersionEntry) == 1068);

  /* A list that cannot be read leaves the outputs alone. */
  CHECK(LoadVersionInfo("no-such-dir/no-such-list.dat", &records, &count) == 0);
  CHECK(records == NULL && count == -7);

  file = fopen(list_path, "wb");
  CHECK(file != NULL);
  if (file == NULL) return 1;
  fputs(".\\bin\\app.exe,900150983cd24fb0d6963f7d28e17f72,23\r\n", file);
  fputs(".\\data\\a.txt,d41d8cd98f00b204e9800998ecf8427e,-5\r\n", file);
  fclose(file);

  CHECK(LoadVersionInfo(list_path, &records, &count) == 1);
  CHECK(count == 2);
  if (records != NULL && count == 2) {
    CHECK(strcmp(records[0].path, ".\\bin\\app.exe") == 0);
    CHECK(strcmp(records[0].key, "900150983cd24fb0d6963f7d28e17f72") == 0);
    CHECK(records[0].size == 23 && records[0].flag == ENTRY_LISTED);
    CHECK(strcmp(records[1].path, ".\\data\\a.txt") == 0 && records[1].size == -5);
  }
  FreeUpdateList(&records); /* either release function takes either array */
  CHECK(records == NULL);
  FreeVersionInfo(&records);
  FreeVersionInfo(NULL);

  file = fopen(key_path, "wb");
  CHECK(file != NULL);
  if (file == NULL) return 1;
  fputs("abc", file);
  fclose(file);
  GetFileKey(key_path, key);
  CHECK(strcmp(key, "900150983cd24fb0d6963f7d28e17f72") == 0);

  CHECK(MakeDirTree(NULL) == 0);
  SetLogLevel(0);

  remove(list_path);
  remove(key_path);
  if (failures == 0) printf("c_api_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
