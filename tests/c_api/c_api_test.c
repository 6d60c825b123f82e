/* A plain C host of the shared library: the public header must compile as C,
 * and the exports must work through it with the documented ownership. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common.h"

static int failures = 0;

#define CHECK(cond)                                                  \
  do {                                                               \
    if (!(cond)) {                                                   \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                    \
    }                                                                \
  } while (0)

/* The signed release that tests/data/signed_release/make_fixture.py made
 * with Python's own Ed25519 and SHA-256, copied into a folder of its own
 * and then damaged in one way. */
static const char* const kReleaseFiles[] = {"Manifest", "Manifest.sig", "VerComp.dat", "Ver"};
static char fixture_dir[512];

static int copy_file(const char* from, const char* to) {
  char buffer[4096];
  size_t got;
  FILE* in = fopen(from, "rb");
  FILE* out = in != NULL ? fopen(to, "wb") : NULL;
  if (out == NULL) {
    if (in != NULL) fclose(in);
    return 0;
  }
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, got, out);
  fclose(in);
  return fclose(out) == 0;
}

static void fixture_path(char* out, const char* name) {
  snprintf(out, 1024, "%s/%s", fixture_dir, name);
}

/* A fresh copy of the release in dir. */
static int lay_release(const char* dir) {
  char from[1024];
  char to[1024];
  size_t i;
  if (!MakeDirTree(dir)) return 0;
  for (i = 0; i < sizeof kReleaseFiles / sizeof kReleaseFiles[0]; ++i) {
    fixture_path(from, kReleaseFiles[i]);
    snprintf(to, sizeof to, "%s/%s", dir, kReleaseFiles[i]);
    if (!copy_file(from, to)) return 0;
  }
  return 1;
}

/* Flips one bit of the byte at offset (counted from the end if negative). */
static void flip_byte(const char* path, long offset) {
  FILE* file = fopen(path, "r+b");
  int c;
  if (file == NULL) return;
  fseek(file, offset, offset < 0 ? SEEK_END : SEEK_SET);
  c = fgetc(file);
  fseek(file, offset, offset < 0 ? SEEK_END : SEEK_SET);
  fputc(c ^ 1, file);
  fclose(file);
}

static void check_signed_releases(void) {
  const char* dir = "c_api_release";
  char trusted[1024];
  char other[1024];
  char path[1024];
  const struct {
    const char* name;
    const char* file; /* damaged file, NULL for none */
    long offset;      /* the byte flipped; 0 with remove: the file goes */
    int remove;
  } cases[] = {
      {"a released byte of VerComp.dat", "VerComp.dat", 20, 0},
      {"Ver", "Ver", -5, 0},
      {"a byte of the Manifest", "Manifest", -20, 0},
      {"the signature", "Manifest.sig", 30, 0},
      {"the signature removed", "Manifest.sig", 0, 1},
      {"the Manifest removed", "Manifest", 0, 1},
      {"VerComp.dat removed", "VerComp.dat", 0, 1},
  };
  size_t i;
  fixture_path(trusted, "trusted.pub");
  fixture_path(other, "other.pub");

  CHECK(lay_release(dir));
  CHECK(VerifyReleaseManifest(dir, trusted) == 1);
  CHECK(VerifyReleaseManifest(dir, other) == 0);  /* a signature by another key */
  fixture_path(path, "Manifest.sig");               /* not a public key file */
  CHECK(VerifyReleaseManifest(dir, path) == 0);
  CHECK(VerifyReleaseManifest(dir, "no-such.pub") == 0);
  CHECK(VerifyReleaseManifest(NULL, trusted) == 0);
  CHECK(VerifyReleaseManifest(dir, NULL) == 0);
  CHECK(VerifyReleaseManifest("", trusted) == 0);

  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    CHECK(lay_release(dir));
    snprintf(path, sizeof path, "%s/%s", dir, cases[i].file);
    if (cases[i].remove) {
      remove(path);
    } else {
      flip_byte(path, cases[i].offset);
    }
    if (VerifyReleaseManifest(dir, trusted) != 0) {
      fprintf(stderr, "a damaged release verified: %s\n", cases[i].name);
      ++failures;
    }
  }
  for (i = 0; i < sizeof kReleaseFiles / sizeof kReleaseFiles[0]; ++i) {
    snprintf(path, sizeof path, "%s/%s", dir, kReleaseFiles[i]);
    remove(path);
  }
}

int main(int argc, char** argv) {
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

  if (argc > 1) {
    snprintf(fixture_dir, sizeof fixture_dir, "%s", argv[1]);
    check_signed_releases();
  } else {
    fprintf(stderr, "c_api_test: no fixture folder given; signed releases not checked\n");
    ++failures;
  }

  remove(list_path);
  remove(key_path);
  if (failures == 0) printf("c_api_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
