/* plan_update - what a client must do to reach a release, as the filedist
 * library plans it.
 *
 *   plan_update NEW_LIST LOCAL_LIST
 *
 * NEW_LIST is the release's version list in plain text (a release's
 * VerComp.dat is gzip: expand it with MakeClientFile or `filedist gunzip`
 * first), LOCAL_LIST the client's own list. Prints one line per file to
 * fetch or to drop, then the number of files and bytes to fetch. */
#include <stdio.h>

#include <filedist/common.h>
#include <filedist/filedist_version.h>

static const char* ActionName(unsigned char flag) {
  switch (flag) {
    case ENTRY_NEW:
      return "new";
    case ENTRY_CHANGED:
      return "changed";
    case ENTRY_OBSOLETE:
      return "obsolete";
    default:
      return "listed";
  }
}

int main(int argc, char** argv) {
  VersionEntry* records = NULL;
  int count = 0;
  int total_size = 0;
  int to_fetch = 0;
  int i;

  if (argc != 3) {
    fprintf(stderr, "usage: plan_update NEW_LIST LOCAL_LIST  (filedist %s)\n",
            FILEDIST_VERSION_STRING);
    return 2;
  }
  if (!GenerateUpdateList(argv[1], argv[2], &records, &count, &total_size)) {
    fprintf(stderr, "plan_update: cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  for (i = 0; i < count; ++i) {
    if (records[i].flag == ENTRY_OBSOLETE) {
      printf("%-9s %s\n", ActionName(records[i].flag), records[i].path);
    } else {
      printf("%-9s %s %s %d\n", ActionName(records[i].flag), records[i].path, records[i].key,
             records[i].size);
      ++to_fetch;
    }
  }
  printf("to fetch: %d files, %d bytes\n", to_fetch, total_size);
  FreeUpdateList(&records);
  return 0;
}
