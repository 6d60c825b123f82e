/* update_host: the smallest complete host of the filedist updater. It brings
 * the folder it is given up to the release at SOURCE, trusting releases
 * signed with KEY, and shows a line of progress; a host with a window does
 * the same from its menu or timer and draws its own bar.
 *
 *   update_host INSTALL_DIR SOURCE KEY
 *
 * Exit status: 0 updated or already up to date, 1 otherwise. */
#include <stdio.h>
#include <string.h>

#include <filedist/filedist_update.h>

/* Runs on the thread that called filedist_update_download, at most ten
 * times a second; returning non-zero would cancel (a "Cancel" button). */
static int ShowProgress(void *ctx, uint64_t done, uint64_t total, const char *path) {
  (void)ctx;
  printf("\r%3d%%  %s", total > 0 ? (int)(done * 100 / total) : 100, path);
  fflush(stdout);
  return 0;
}

int main(int argc, char **argv) {
  filedist_update *session = NULL;
  filedist_update_plan plan;
  int code;
  /* The plan's first field says how much of it this host knows. */
  memset(&plan, 0, sizeof plan);
  plan.size = sizeof plan;
  if (argc != 4) {
    fprintf(stderr, "usage: update_host INSTALL_DIR SOURCE KEY\n");
    return 1;
  }
  /* The session holds the folder's lock until it is closed. */
  code = filedist_update_open(argv[1], argv[2], &session);
  if (code != FILEDIST_UPDATE_OK) {
    fprintf(stderr, "cannot open: %s\n", filedist_update_error(NULL));
    return 1;
  }
  if (filedist_update_set(session, "trust", argv[3]) != FILEDIST_UPDATE_OK ||
      filedist_update_set(session, "jobs", "4") != FILEDIST_UPDATE_OK) {
    fprintf(stderr, "%s\n", filedist_update_error(session));
    filedist_update_close(session);
    return 1;
  }
  code = filedist_update_check(session, &plan);
  if (code >= 0 && plan.installed_sequence != 0) {
    printf("installed: release %llu\n", (unsigned long long)plan.installed_sequence);
  }
  if (code == FILEDIST_UPDATE_OK) {
    /* What comes over: patches of the installed files where the release
     * has them, in place of the whole files. */
    printf("release %llu: %u files (%u by patches), %llu bytes to fetch\n",
           (unsigned long long)plan.sequence, plan.files_to_fetch, plan.files_by_patch,
           (unsigned long long)plan.bytes_expected);
    code = filedist_update_download(session, ShowProgress, NULL);
    printf("\n");
    /* A real host would ask here, or wait until the application restarts. */
    if (code == FILEDIST_UPDATE_OK) code = filedist_update_apply(session);
  }
  if (code == FILEDIST_UPDATE_UP_TO_DATE) {
    printf(plan.held_back ? "a newer release is rolling out, not yet to this install\n"
                          : "up to date\n");
  }
  if (code < 0) fprintf(stderr, "update failed (%d): %s\n", code, filedist_update_error(session));
  filedist_update_close(session);
  return code < 0 ? 1 : 0;
}
