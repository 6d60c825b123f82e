/* A plain C host of filedist_update, built apart from the project against
 * the installed header and the library alone (check_update_hosts.sh).
 *
 *   c_update_host DIR SLOW_URL PLAIN_URL FORGED_SOURCE TRUSTED_KEY FORGED_DIR
 *                 CHANNEL_DIR BETA1_URL BETA2_URL UNSIGNED_URL FORGED_POINTER_URL
 *                 HALTED_URL PATCHED_URL
 *
 * DIR starts empty. SLOW_URL serves the release with every answer half a
 * second late, so that a download can be cancelled after its first file;
 * PLAIN_URL serves the same release at once. FORGED_SOURCE is the release
 * with its Manifest changed after signing.
 *
 * CHANNEL_DIR starts empty too, and follows the channel "beta" of releases
 * folders served over HTTP, where LATEST names the first release (a.bin of
 * 256 KiB) and the second grows a.bin to 300 KiB: BETA1_URL's signed
 * pointer 1 names the second release, BETA2_URL's pointer 2 the first again
 * (a signed roll-back); UNSIGNED_URL serves pointer 2 without its signature,
 * FORGED_POINTER_URL pointer 2 changed after signing to name the second;
 * HALTED_URL's pointer 3 offers the second release to 0% of installs.
 * PATCHED_URL is the second release's patch directory, which holds a binary
 * patch from the first release's a.bin (the second appends to it): DIR
 * takes it last.
 *
 * Prints "host ok" last when every step gave what it must. */
#include <stdio.h>
#include <string.h>

#include <filedist/filedist_update.h>

static int failures = 0;

#define EXPECT(cond, what)                              \
  do {                                                  \
    if (!(cond)) {                                      \
      printf("FAILED: %s (line %d)\n", what, __LINE__); \
      ++failures;                                       \
    }                                                   \
  } while (0)

static const char *const kFiles[] = {"a.bin", "b.bin", "c.bin", "d.bin"};

/* How many of the release's files are installed in dir. */
static int Installed(const char *dir) {
  int count = 0;
  size_t i;
  for (i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) {
    char path[2048];
    FILE *file;
    snprintf(path, sizeof path, "%s/%s", dir, kFiles[i]);
    file = fopen(path, "rb");
    if (file != NULL) {
      ++count;
      fclose(file);
    }
  }
  return count;
}

/* The size of dir/name, -1 when it cannot be read. */
static long SizeOf(const char *dir, const char *name) {
  char path[2048];
  FILE *file;
  long size;
  snprintf(path, sizeof path, "%s/%s", dir, name);
  file = fopen(path, "rb");
  if (file == NULL) return -1;
  size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
  fclose(file);
  return size;
}

/* A check with the 32-byte plan of the first header, in a buffer of the
 * current plan's size and more: *plan gets those 32 bytes. Returns the
 * check's code; *untouched is 1 when every byte past them kept its mark. */
static int CheckWithFirstPlan(filedist_update *session, filedist_update_plan *plan,
                              int *untouched) {
  unsigned char buffer[sizeof(filedist_update_plan) + 16];
  uint32_t first_size = 32;
  size_t i;
  int code;
  memset(buffer, 0xa5, sizeof buffer);
  memcpy(buffer, &first_size, sizeof first_size);
  code = filedist_update_check(session, (filedist_update_plan *)(void *)buffer);
  *untouched = 1;
  for (i = first_size; i < sizeof buffer; ++i) {
    if (buffer[i] != 0xa5) *untouched = 0;
  }
  memset(plan, 0, sizeof *plan);
  memcpy(plan, buffer, first_size);
  return code;
}

static const long kFirstA = 256 * 1024;  /* a.bin of the first release */
static const long kSecondA = 300 * 1024; /* and of the second */

/* A session on dir following the channel "beta" of source (NULL: the
 * source and channel the last update recorded) with the trusted key;
 * NULL when it could not be opened or set. */
static filedist_update *FollowBeta(const char *dir, const char *source, const char *key) {
  filedist_update *session = NULL;
  int code = filedist_update_open(dir, source, &session);
  EXPECT(code == FILEDIST_UPDATE_OK, "open a session that follows a channel");
  if (code != FILEDIST_UPDATE_OK) {
    printf("  %s\n", filedist_update_error(NULL));
    return NULL;
  }
  EXPECT(filedist_update_set(session, "trust", key) == FILEDIST_UPDATE_OK, "trust");
  if (source != NULL) {
    EXPECT(filedist_update_set(session, "channel", "beta") == FILEDIST_UPDATE_OK, "channel");
  }
  return session;
}

/* Checks, downloads and applies; returns the check's code. */
static int Update(filedist_update *session) {
  int code = filedist_update_check(session, NULL);
  if (code < 0) return code;
  if (filedist_update_download(session, NULL, NULL) != FILEDIST_UPDATE_OK ||
      filedist_update_apply(session) < 0) {
    printf("  %s\n", filedist_update_error(session));
    return -100;
  }
  return code;
}

/* Following a channel: the pointer's release is taken and remembered, a
 * signed roll-back is taken, and a pointer served again, unsigned or forged
 * is refused with nothing changed. */
static void FollowChannel(char **argv) {
  const char *dir = argv[7], *beta1 = argv[8], *beta2 = argv[9], *unsigned_url = argv[10];
  const char *forged = argv[11], *halted = argv[12], *key = argv[5];
  struct Refusal {
    const char *what, *source, *reason;
  } refusals[3];
  filedist_update *session;
  filedist_update_plan plan;
  size_t i;
  int code;

  /* Nothing recorded yet: no source to take. */
  session = NULL;
  code = filedist_update_open(dir, NULL, &session);
  EXPECT(code == FILEDIST_UPDATE_E_USAGE && session == NULL,
         "open without a source before any update is refused");
  EXPECT(strstr(filedist_update_error(NULL), "recorded") != NULL, "and says why");

  session = FollowBeta(dir, beta1, key);
  if (session == NULL) return;
  EXPECT(filedist_update_set(session, "channel", "no such/channel") == FILEDIST_UPDATE_E_USAGE,
         "a channel name with a slash is refused");
  memset(&plan, 0, sizeof plan);
  plan.size = sizeof plan;
  code = filedist_update_check(session, &plan);
  EXPECT(code == FILEDIST_UPDATE_OK, "the channel's release is checked");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  /* LATEST names the first release: the pointer, not LATEST, was taken. */
  EXPECT(plan.sequence == 2 && plan.verified == 1, "the beta pointer's release is planned");
  EXPECT(plan.files_to_fetch == 4, "plan: four files");
  EXPECT(plan.installed_sequence == 0 && plan.held_back == 0, "plan: nothing installed yet");
  if (code == FILEDIST_UPDATE_OK) {
    EXPECT(filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_OK, "download");
    EXPECT(filedist_update_apply(session) == FILEDIST_UPDATE_OK, "apply");
  }
  EXPECT(SizeOf(dir, "a.bin") == kSecondA, "the beta release is installed");
  filedist_update_close(session);

  /* The source and channel are remembered: up to date with beta, where
   * stable (LATEST) would have something to fetch. */
  session = FollowBeta(dir, NULL, key);
  if (session != NULL) {
    memset(&plan, 0xff, sizeof plan);
    plan.size = sizeof plan;
    code = filedist_update_check(session, &plan);
    EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE, "the remembered channel is up to date");
    EXPECT(plan.held_back == 0, "really up to date is not held back");
    EXPECT(plan.installed_sequence == 2, "the applied release is the installed one");
    if (code < 0) printf("  %s\n", filedist_update_error(session));
    filedist_update_close(session);
  }

  /* The publisher's signed roll-back to the first release is taken without
   * allow-downgrade. */
  session = FollowBeta(dir, beta2, key);
  if (session != NULL) {
    memset(&plan, 0, sizeof plan);
    plan.size = sizeof plan;
    code = filedist_update_check(session, &plan);
    EXPECT(code == FILEDIST_UPDATE_OK && plan.sequence == 1 && plan.files_to_fetch == 1,
           "a signed roll-back plans the first release's a.bin");
    if (code < 0) printf("  %s\n", filedist_update_error(session));
    if (code == FILEDIST_UPDATE_OK) {
      EXPECT(filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_OK, "download");
      EXPECT(filedist_update_apply(session) == FILEDIST_UPDATE_OK, "apply");
    }
    filedist_update_close(session);
  }
  EXPECT(SizeOf(dir, "a.bin") == kFirstA, "the roll-back is installed");

  /* Pointers that must not be taken, each from a session of its own. */
  refusals[0].what = "the first pointer served again";
  refusals[0].source = beta1;
  refusals[0].reason = "served again";
  refusals[1].what = "a pointer without its signature";
  refusals[1].source = unsigned_url;
  refusals[1].reason = "not signed";
  refusals[2].what = "a pointer changed after signing";
  refusals[2].source = forged;
  refusals[2].reason = "refused";
  for (i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
    session = FollowBeta(dir, refusals[i].source, key);
    if (session == NULL) continue;
    code = filedist_update_check(session, NULL);
    if (code != FILEDIST_UPDATE_E_REFUSED ||
        strstr(filedist_update_error(session), refusals[i].reason) == NULL) {
      printf("FAILED: %s: %d, %s\n", refusals[i].what, code, filedist_update_error(session));
      ++failures;
    }
    EXPECT(filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_E_USAGE,
           "nothing of a refused pointer is downloaded");
    filedist_update_close(session);
    EXPECT(SizeOf(dir, "a.bin") == kFirstA, "a refused pointer changes nothing");
  }

  /* A halted rollout offers nothing new to this install: up to date, and a
   * download and apply that follow change nothing. */
  session = FollowBeta(dir, halted, key);
  if (session != NULL) {
    int untouched = 0;
    memset(&plan, 0xff, sizeof plan);
    plan.size = sizeof plan;
    code = filedist_update_check(session, &plan);
    EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE, "a halted rollout holds the install back");
    EXPECT(plan.held_back == 1, "plan: held back by the rollout");
    EXPECT(plan.files_to_fetch == 0 && plan.bytes_to_fetch == 0 && plan.sequence == 0 &&
               plan.files_by_patch == 0 && plan.bytes_expected == 0,
           "plan: nothing else planned");
    EXPECT(plan.installed_sequence == 1, "plan: the rolled-back release is installed");
    /* A host of the first header sees what it always saw. */
    code = CheckWithFirstPlan(session, &plan, &untouched);
    EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE && plan.size == 32 && plan.files_to_fetch == 0 &&
               plan.sequence == 0,
           "a held-back check with the first plan");
    EXPECT(untouched, "a held-back check writes nothing past the first plan's 32 bytes");
    code = Update(session);
    EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE, "and download and apply then do nothing");
    if (code < 0) printf("  %s\n", filedist_update_error(session));
    filedist_update_close(session);
  }
  EXPECT(SizeOf(dir, "a.bin") == kFirstA, "a halted rollout installs nothing");
}

struct Watch {
  int calls;
  int cancel_when_some;     /* cancel once the first file arrived */
  filedist_update *reenter; /* call back into this session at the first report */
  int reentered_refused;    /* how many of those calls were refused */
  uint64_t done_at_cancel;
  uint64_t first_done; /* bytes_done at the first call */
  uint64_t last_done, last_total;
};

static int Progress(void *ctx, uint64_t done, uint64_t total, const char *path) {
  struct Watch *watch = (struct Watch *)ctx;
  if (watch->calls == 0) watch->first_done = done;
  ++watch->calls;
  watch->last_done = done;
  watch->last_total = total;
  if (path == NULL) ++failures;
  if (watch->reenter != NULL && watch->calls == 1) {
    /* The download is running: every call on its session but error and
     * close is refused, and close leaves the session to the host. */
    filedist_update *session = watch->reenter;
    filedist_update_plan plan;
    memset(&plan, 0, sizeof plan);
    plan.size = sizeof plan;
    watch->reentered_refused += filedist_update_check(session, &plan) == FILEDIST_UPDATE_E_USAGE;
    watch->reentered_refused +=
        filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_E_USAGE;
    watch->reentered_refused += filedist_update_apply(session) == FILEDIST_UPDATE_E_USAGE;
    watch->reentered_refused +=
        filedist_update_restart(session, 0, 1, NULL, NULL) == FILEDIST_UPDATE_E_USAGE;
    watch->reentered_refused +=
        filedist_update_set(session, "jobs", "2") == FILEDIST_UPDATE_E_USAGE;
    watch->reentered_refused += strstr(filedist_update_error(session), "progress") != NULL;
    filedist_update_close(session);
  }
  /* The four files are the same size: at a quarter, less a margin for
   * their few bytes of difference, the first is in whole and the second
   * (half a second late) not begun, so what is cancelled is a whole file
   * staged and nothing cut off. */
  if (watch->cancel_when_some && done >= total / 4 - total / 64 && done < total) {
    watch->done_at_cancel = done;
    return 1;
  }
  return 0;
}

/* DIR holds the first release; the second comes with a.bin made from its
 * patch. The plan tells the patch apart from the whole file, the progress
 * counts in the patch's bytes and ends complete, and a host of the first
 * header gets the same 32 bytes as ever and nothing past them. */
static void PatchedUpdate(const char *dir, const char *url, const char *key) {
  filedist_update *session = NULL;
  filedist_update_plan plan, first;
  struct Watch watch;
  int untouched = 0;
  int code = filedist_update_open(dir, url, &session);
  EXPECT(code == FILEDIST_UPDATE_OK, "open for the patched release");
  if (session == NULL) return;
  EXPECT(filedist_update_set(session, "trust", key) == FILEDIST_UPDATE_OK, "trust");

  code = CheckWithFirstPlan(session, &first, &untouched);
  EXPECT(code == FILEDIST_UPDATE_OK, "check with the first plan");
  EXPECT(untouched, "a check writes nothing past the first plan's 32 bytes");

  memset(&plan, 0xff, sizeof plan);
  plan.size = sizeof plan;
  code = filedist_update_check(session, &plan);
  EXPECT(code == FILEDIST_UPDATE_OK, "the patched release is checked");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  EXPECT(first.size == 32 && memcmp((char *)&first + 4, (char *)&plan + 4, 28) == 0,
         "the first plan's fields are the same in either size");
  EXPECT(plan.files_to_fetch == 1 && plan.sequence == 2, "plan: the second release's a.bin");
  EXPECT(plan.files_by_patch == 1, "plan: a.bin comes as a patch");
  EXPECT(plan.bytes_expected > 0 && plan.bytes_expected < plan.bytes_to_fetch / 2,
         "plan: the patch, far smaller than the file, is what comes over");
  EXPECT(plan.held_back == 0, "plan: not held back");
  EXPECT(plan.installed_sequence == 1, "plan: the first release is installed");

  memset(&watch, 0, sizeof watch);
  code = filedist_update_download(session, Progress, &watch);
  EXPECT(code == FILEDIST_UPDATE_OK, "the patch is downloaded");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  EXPECT(watch.calls >= 1 && watch.last_total == plan.bytes_expected,
         "progress counts the patch's bytes");
  EXPECT(watch.last_done == watch.last_total, "the last report has every byte");
  EXPECT(filedist_update_apply(session) == FILEDIST_UPDATE_OK, "apply the patched release");
  EXPECT(SizeOf(dir, "a.bin") == kSecondA, "the patched a.bin is installed");

  memset(&plan, 0xff, sizeof plan);
  plan.size = sizeof plan;
  code = filedist_update_check(session, &plan);
  EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE && plan.installed_sequence == 2,
         "after the apply the second release is installed");
  EXPECT(plan.files_by_patch == 0 && plan.bytes_expected == 0, "and nothing more comes over");
  filedist_update_close(session);
}

int main(int argc, char **argv) {
  const char *dir, *slow, *plain, *forged, *key, *forged_dir;
  filedist_update *session = NULL;
  filedist_update *second = NULL;
  filedist_update_plan plan;
  struct Watch watch;
  int code;
  if (argc != 14) {
    printf(
        "usage: c_update_host DIR SLOW_URL PLAIN_URL FORGED_SOURCE TRUSTED_KEY FORGED_DIR "
        "CHANNEL_DIR BETA1_URL BETA2_URL UNSIGNED_URL FORGED_POINTER_URL HALTED_URL "
        "PATCHED_URL\n");
    return 2;
  }
  dir = argv[1];
  slow = argv[2];
  plain = argv[3];
  forged = argv[4];
  key = argv[5];
  forged_dir = argv[6];

  code = filedist_update_open(dir, slow, &session);
  EXPECT(code == FILEDIST_UPDATE_OK && session != NULL, "open");
  if (session == NULL) return 1;

  /* The directory is locked while the session lasts. */
  code = filedist_update_open(dir, plain, &second);
  EXPECT(code == FILEDIST_UPDATE_E_LOCKED, "a second session on the directory is refused");
  EXPECT(second == NULL, "a refused open gives no session");
  EXPECT(strlen(filedist_update_error(NULL)) > 0, "a refused open says why");

  code = filedist_update_set(session, "no-such-option", "1");
  EXPECT(code == FILEDIST_UPDATE_E_USAGE, "an unknown option is refused");
  EXPECT(strstr(filedist_update_error(session), "no-such-option") != NULL,
         "the refusal names the option");
  EXPECT(filedist_update_set(session, "jobs", "0") == FILEDIST_UPDATE_E_USAGE,
         "jobs out of range is refused");
  EXPECT(filedist_update_set(session, "expected-sequence", "seven") == FILEDIST_UPDATE_E_USAGE,
         "an expected sequence that is no number is refused");
  EXPECT(filedist_update_set(session, "expected-sequence", "-1") == FILEDIST_UPDATE_E_USAGE,
         "a negative expected sequence is refused");
  EXPECT(filedist_update_set(session, "expected-sequence", " -1") == FILEDIST_UPDATE_E_USAGE,
         "a negative expected sequence after a space is refused");
  EXPECT(filedist_update_set(session, "expected-sequence", "12345678901234567890123") ==
             FILEDIST_UPDATE_E_USAGE,
         "an expected sequence past 64 bits is refused");
  EXPECT(strstr(filedist_update_error(session),
                "expected-sequence takes a release number from 0 "
                "to 9223372036854775807") != NULL,
         "the refusal names the option and its range");
  EXPECT(filedist_update_set(session, "expected-sequence", "9223372036854775808") ==
             FILEDIST_UPDATE_E_USAGE,
         "an expected sequence no Manifest can carry is refused");
  EXPECT(filedist_update_set(session, "trust", "") == FILEDIST_UPDATE_E_USAGE,
         "an empty trust file name is refused, not taken as no key");
  EXPECT(filedist_update_set(session, "expected-sequence", "0") == FILEDIST_UPDATE_OK,
         "expected-sequence 0 (none) is taken");
  EXPECT(filedist_update_set(session, "no-delta", "2") == FILEDIST_UPDATE_E_USAGE,
         "no-delta takes 1 or 0");
  EXPECT(filedist_update_set(session, "no-delta", "0") == FILEDIST_UPDATE_OK, "no-delta 0");
  EXPECT(filedist_update_set(session, "trust", key) == FILEDIST_UPDATE_OK, "trust");
  EXPECT(filedist_update_set(session, "jobs", "1") == FILEDIST_UPDATE_OK, "jobs");

  EXPECT(filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_E_USAGE,
         "download before check is refused");

  memset(&plan, 0xff, sizeof plan);
  plan.size = sizeof plan;
  code = filedist_update_check(session, &plan);
  EXPECT(code == FILEDIST_UPDATE_OK, "check finds work");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  EXPECT(plan.files_to_fetch == 4, "plan: four files to fetch");
  EXPECT(plan.bytes_to_fetch > 0, "plan: bytes to fetch");
  EXPECT(plan.files_obsolete == 0, "plan: nothing obsolete");
  EXPECT(plan.verified == 1, "plan: signed by the trusted key");
  EXPECT(plan.sequence == 1, "plan: the release's number");
  EXPECT(plan.held_back == 0 && plan.installed_sequence == 0, "plan: a first install");
  EXPECT(plan.files_by_patch == 0 && plan.bytes_expected == plan.bytes_to_fetch,
         "plan: no patch for a first install");

  /* Cancelled once the first file is in: nothing is installed. */
  memset(&watch, 0, sizeof watch);
  watch.cancel_when_some = 1;
  code = filedist_update_download(session, Progress, &watch);
  EXPECT(code == FILEDIST_UPDATE_E_CANCELLED, "a progress function that returns 1 cancels");
  EXPECT(watch.done_at_cancel > 0, "cancelled part-way");
  EXPECT(Installed(dir) == 0, "a cancelled download replaces nothing");
  EXPECT(filedist_update_apply(session) == FILEDIST_UPDATE_E_USAGE,
         "apply after a cancelled download is refused");

  /* The next download goes on from what was staged: already at the first
   * report it counts the file fetched before the cancel, which a fetch
   * from the start (half a second per answer) cannot have. */
  memset(&watch, 0, sizeof watch);
  watch.reenter = session;
  code = filedist_update_download(session, Progress, &watch);
  EXPECT(watch.reentered_refused == 6, "calls from the progress function are refused");
  EXPECT(code == FILEDIST_UPDATE_OK, "the second download finishes");
  EXPECT(strlen(filedist_update_error(session)) == 0, "and says nothing went wrong");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  EXPECT(watch.calls >= 1, "progress is told at least once");
  EXPECT(watch.first_done > 0, "the second download starts from what was staged");
  EXPECT(watch.last_done == watch.last_total && watch.last_total == plan.bytes_to_fetch,
         "the last report has every byte");
  EXPECT(Installed(dir) == 0, "a download alone installs nothing");
  EXPECT(filedist_update_restart(session, (uint64_t)-1, 30, NULL, NULL) == FILEDIST_UPDATE_E_USAGE,
         "a process id of -1 is refused, not waited for");
  EXPECT(Installed(dir) == 0, "a refused restart installs nothing");

  code = filedist_update_apply(session);
  EXPECT(code == FILEDIST_UPDATE_OK, "apply");
  if (code != FILEDIST_UPDATE_OK) printf("  %s\n", filedist_update_error(session));
  EXPECT(Installed(dir) == 4, "apply installs every file");

  code = filedist_update_check(session, NULL);
  EXPECT(code == FILEDIST_UPDATE_UP_TO_DATE, "a second check finds the directory up to date");
  filedist_update_close(session);

  /* Closed, the directory can be opened again. */
  session = NULL;
  code = filedist_update_open(dir, plain, &session);
  EXPECT(code == FILEDIST_UPDATE_OK, "open after close");
  filedist_update_close(session);

  /* A release whose Manifest was changed after signing. */
  session = NULL;
  code = filedist_update_open(forged_dir, forged, &session);
  EXPECT(code == FILEDIST_UPDATE_OK, "open for the forged release");
  if (session != NULL) {
    EXPECT(filedist_update_set(session, "trust", key) == FILEDIST_UPDATE_OK, "trust");
    code = filedist_update_check(session, NULL);
    EXPECT(code == FILEDIST_UPDATE_E_REFUSED, "a forged release is refused");
    EXPECT(strlen(filedist_update_error(session)) > 0, "the refusal says why");
    EXPECT(filedist_update_download(session, NULL, NULL) == FILEDIST_UPDATE_E_USAGE,
           "nothing of a refused release is downloaded");
    filedist_update_close(session);
  }
  EXPECT(Installed(forged_dir) == 0, "nothing of a forged release is installed");

  FollowChannel(argv);
  PatchedUpdate(dir, argv[13], key);

  if (failures == 0) printf("host ok\n");
  return failures == 0 ? 0 : 1;
}
