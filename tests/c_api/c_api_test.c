/* A plain C host of the shared library: the public header must compile as C,
 * and the exports must work through it with the documented ownership.
 * Its argument is the shared library itself: a copy of it, loaded, stands for
 * a library that a running program holds while a host replaces it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filedist/common.h>

/* How a host loads a library and lists a directory differs by system; only
 * these helpers know it. */
#ifdef _WIN32
#  include <windows.h>

typedef int (*MakeDirTreeFunction)(const char*);
static HMODULE held_library = NULL;

static MakeDirTreeFunction LoadHeld(const char* path) {
  held_library = LoadLibraryA(path);
  if (held_library == NULL) return NULL;
  return (MakeDirTreeFunction)(void (*)(void))GetProcAddress(held_library, "MakeDirTree");
}

static void UnloadHeld(void) {
  if (held_library != NULL) FreeLibrary(held_library);
}

/* Counts the entries of dir named as moved-aside copies; removes them too
 * when asked. */
static int AsideCopies(const char* dir, int remove_them) {
  char pattern[1024];
  char path[1024];
  WIN32_FIND_DATAA found;
  HANDLE search;
  int count = 0;
  snprintf(pattern, sizeof pattern, "%s\\.~old-*", dir);
  search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    ++count;
    snprintf(path, sizeof path, "%s\\%s", dir, found.cFileName);
    if (remove_them) DeleteFileA(path);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

static void RemoveDirectoryNamed(const char* dir) { RemoveDirectoryA(dir); }

static const int kHeldFilesBlock = 1;
#else
#  include <dirent.h>
#  include <dlfcn.h>
#  include <unistd.h>

typedef int (*MakeDirTreeFunction)(const char*);
static void* held_library = NULL;

static MakeDirTreeFunction LoadHeld(const char* path) {
  void* symbol;
  held_library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (held_library == NULL) return NULL;
  symbol = dlsym(held_library, "MakeDirTree");
  return *(MakeDirTreeFunction*)&symbol;
}

/* Kept loaded: nothing here needs the file released (a rename replaces it),
 * and the library keeps its one version object for the life of the process,
 * which an unloaded copy would turn into a leak report. */
static void UnloadHeld(void) {}

static int AsideCopies(const char* dir, int remove_them) {
  char path[1024];
  struct dirent* entry;
  int count = 0;
  DIR* listing = opendir(dir);
  if (listing == NULL) return 0;
  while ((entry = readdir(listing)) != NULL) {
    if (strncmp(entry->d_name, ".~old-", 6) != 0) continue;
    ++count;
    snprintf(path, sizeof path, "%s/%s", dir, entry->d_name);
    if (remove_them) remove(path);
  }
  closedir(listing);
  return count;
}

static void RemoveDirectoryNamed(const char* dir) { rmdir(dir); }

/* A rename replaces a file whoever has it open or mapped. */
static const int kHeldFilesBlock = 0;
#endif

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

/* The signed release that tests/data/signed_release/make_fixture.py made
 * with Python's own Ed25519 and SHA-256, copied into a folder of its own
 * and then damaged in one way. */
static const char* const kReleaseFiles[] = {"Manifest", "Manifest.sig", "VerComp.dat", "Ver"};
static char fixture_dir[512];

static int CopyBytes(const char* from, const char* to) {
  char buffer[65536];
  size_t got;
  int ok = 1;
  FILE* in = fopen(from, "rb");
  FILE* out = in != NULL ? fopen(to, "wb") : NULL;
  if (out == NULL) {
    if (in != NULL) fclose(in);
    return 0;
  }
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (fwrite(buffer, 1, got, out) != got) ok = 0;
  }
  fclose(in);
  return fclose(out) == 0 && ok;
}

static int HasContents(const char* path, const char* text) {
  char buffer[256];
  size_t got;
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  got = fread(buffer, 1, sizeof buffer, file);
  fclose(file);
  return got == strlen(text) && memcmp(buffer, text, got) == 0;
}

/* Whether two files hold the same bytes. */
static int SameBytes(const char* first, const char* second) {
  int a = EOF;
  int b = EOF;
  FILE* one = fopen(first, "rb");
  FILE* two = fopen(second, "rb");
  if (one != NULL && two != NULL) {
    do {
      a = getc(one);
      b = getc(two);
    } while (a == b && a != EOF);
  }
  if (one != NULL) fclose(one);
  if (two != NULL) fclose(two);
  return one != NULL && two != NULL && a == b;
}

/* A host replaces a library that a running program has loaded: without
 * CLIENT_FILE_MOVE_ASIDE that fails where the system holds such files, and
 * the file stays as it was; with it the old copy is renamed aside in its
 * directory and keeps working. */
static void ReplaceHeldLibrary(const char* library) {
  const char* dir = "c_api_test_held";
  const char* held = "c_api_test_held/held-library.dll";
  const char* source = "c_api_test_source.txt";
  const char* replacement = "plain bytes, not gzip: copied as they are";
  MakeDirTreeFunction make_dir_tree;
  FILE* file;

  CHECK(MakeDirTree(dir) == 1);
  CHECK(CopyBytes(library, held));
  file = fopen(source, "wb");
  CHECK(file != NULL);
  if (file == NULL) return;
  fputs(replacement, file);
  fclose(file);
  make_dir_tree = LoadHeld(held);
  CHECK(make_dir_tree != NULL);

  CHECK(MakeClientFileEx(source, held, 0x80) == 0); /* an unknown flag */
  CHECK(MakeClientFileEx(source, held, CLIENT_FILE_MOVE_ASIDE | 0x80) == 0);
  if (kHeldFilesBlock) {
    CHECK(MakeClientFile(source, held) == 0);
    CHECK(MakeClientFileEx(source, held, 0) == 0);
  }
  CHECK(SameBytes(library, held));
  CHECK(AsideCopies(dir, 0) == 0);

  CHECK(MakeClientFileEx(source, held, CLIENT_FILE_MOVE_ASIDE) == 1);
  CHECK(HasContents(held, replacement));
  CHECK(AsideCopies(dir, 0) == kHeldFilesBlock);
  /* The old image runs on. */
  CHECK(make_dir_tree != NULL && make_dir_tree(dir) == 1);

  UnloadHeld();
  AsideCopies(dir, 1);
  remove(held);
  remove(source);
  RemoveDirectoryNamed(dir);
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
    if (!CopyBytes(from, to)) return 0;
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
  CHECK(VerifyReleaseManifest(dir, other) == 0); /* a signature by another key */
  fixture_path(path, "Manifest.sig");            /* not a public key file */
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

  CHECK(argc == 3);
  if (argc == 3) {
    ReplaceHeldLibrary(argv[1]);
    snprintf(fixture_dir, sizeof fixture_dir, "%s", argv[2]);
    check_signed_releases();
  }

  remove(list_path);
  remove(key_path);
  if (failures == 0) printf("c_api_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
