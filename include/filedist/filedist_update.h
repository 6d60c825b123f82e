/* filedist_update.h - the updater for host programs: check a release, fetch
 * it with progress, install it, from the host's own menu or timer.
 *
 * The library is filedist_update.dll on Windows (self-contained: WinHTTP,
 * libgcrypt and the C++ runtime are inside, only system DLLs are imported)
 * and libfiledist_update.so.1 elsewhere. It is the engine behind
 * `filedist update`: staging, a journaled apply, Ed25519-signed releases
 * with a rollback floor, parallel resumable downloads, files in use moved
 * aside on Windows. Nothing is shown to the user: the host draws its own.
 *
 * Conventions
 * -----------
 * - Text is narrow and NUL-terminated: bytes in the system's ANSI code page
 *   on Windows, bytes as the file system takes them on POSIX systems.
 * - A session (filedist_update) belongs to the host from
 *   filedist_update_open until filedist_update_close; nothing else frees it.
 *   Strings the library returns belong to the session and stay valid until
 *   the next call on it or its close. Strings the host passes are copied.
 * - Return values: FILEDIST_UPDATE_OK (0) when the step was done,
 *   FILEDIST_UPDATE_UP_TO_DATE (a positive value) when there was nothing to
 *   do, and a negative FILEDIST_UPDATE_E_* value for the kind of failure;
 *   filedist_update_error then gives the reason in words.
 * - Threads: call one session from one thread at a time. Sessions on
 *   different install directories may run at once on different threads.
 *   filedist_update_download starts threads of its own for the transfers
 *   (the "jobs" option) and ends them before it returns; the progress
 *   function runs on the thread that called filedist_update_download.
 *   filedist_update_apply places many files with as many threads, also
 *   ended before it returns.
 * - Locking: a session holds the install directory's lock from open to
 *   close. Another session, or a `filedist update` run, on the same
 *   directory is refused with FILEDIST_UPDATE_E_LOCKED meanwhile.
 * - Remembering: a session given the "channel" or "remember" option, or
 *   opened without a source, keeps the source, the channel and the last
 *   channel pointer it took in install_dir's .filedist-install, the record
 *   `filedist update` keeps and `filedist status` shows: the program and a
 *   host may take turns on one install, and either refuses a pointer older
 *   than the other took. A source that is a patch directory is kept as the
 *   releases folder it lies in (where that folder's LATEST names one), so
 *   that later releases are found. Until an update of the directory has
 *   succeeded, one that failed keeps its source and channel in
 *   .filedist-source, so that it can be run again without them.
 * - Safety: nothing installed changes before filedist_update_apply, and
 *   apply changes files only under a journal: an apply that is stopped
 *   (power cut, killed process) is finished by the next session's check.
 */
#ifndef FILEDIST_UPDATE_H
#define FILEDIST_UPDATE_H

#include <stddef.h>
#include <stdint.h>

/* Hosts import the functions from the DLL; the library's own build and the
 * filedist program, which links the same code, define FILEDIST_UPDATE_STATIC
 * (the DLL's exports are listed in its .def file). */
#if defined(_WIN32)
#  if defined(FILEDIST_UPDATE_STATIC)
#    define FILEDIST_UPDATE_API
#  else
#    define FILEDIST_UPDATE_API __declspec(dllimport)
#  endif
#  define FILEDIST_UPDATE_CALL __cdecl
#else
#  define FILEDIST_UPDATE_API __attribute__((visibility("default")))
#  define FILEDIST_UPDATE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return values (kept as laid out: each comment continues under itself). */
/* clang-format off */
enum {
  FILEDIST_UPDATE_OK = 0,
  FILEDIST_UPDATE_UP_TO_DATE = 1,        /* nothing to fetch, place or remove */
  FILEDIST_UPDATE_E_USAGE = -1,          /* bad argument or option, or steps out of order */
  FILEDIST_UPDATE_E_NETWORK = -2,        /* the source or one of its files could not be fetched */
  FILEDIST_UPDATE_E_REFUSED = -3,        /* the release is not one to take: unsigned with a
                                            trusted key, forged, older than the installed one,
                                            damaged, or naming unsafe paths; or the channel
                                            pointer is not one to take ("channel") */
  FILEDIST_UPDATE_E_DISK = -4,           /* the install directory could not be read or written */
  FILEDIST_UPDATE_E_CANCELLED = -5,      /* the progress function stopped the download */
  FILEDIST_UPDATE_E_LOCKED = -6,         /* another update of the directory is running */
  FILEDIST_UPDATE_E_TIMEOUT = -7,        /* restart: the process waited for still ran when the
                                            time was up; nothing was applied or started */
  FILEDIST_UPDATE_E_START = -8           /* restart: the apply was done, but the program
                                            could not be started again */
};
/* clang-format on */

/* A session on one install directory. */
typedef struct filedist_update filedist_update;

/* What filedist_update_check found. The struct can grow in later versions:
 * set size to sizeof(filedist_update_plan) before the call; the library
 * fills only the fields that fit in size and leaves the rest alone. A host
 * built against an older header passes its smaller size and gets the fields
 * it knows, as before; the first 32 bytes keep their layout. */
typedef struct filedist_update_plan {
  uint32_t size;           /* set by the caller */
  uint32_t files_to_fetch; /* new or changed files */
  uint64_t bytes_to_fetch; /* their compressed sizes as the release lists them */
  uint32_t files_obsolete; /* installed files the release no longer lists */
  uint32_t verified;       /* 1: the release is signed by the trusted key */
  uint64_t sequence;       /* the release's number; 0 where it has no Manifest */
  /* The fields below came later: each is filled where size reaches past
   * it, and a host of the 32-byte plan never sees them. */
  /* 1: a followed channel offers a newer release to a share of installs (a
   * rollout) this one is outside of; the check then returns
   * FILEDIST_UPDATE_UP_TO_DATE with every other field 0 but
   * installed_sequence. 0 otherwise, a really up-to-date install included. */
  uint32_t held_back;
  /* Of files_to_fetch, those that come as binary patches of what is
   * installed now (0 with "no-delta" or where the release has none). */
  uint32_t files_by_patch;
  /* What the download will fetch: bytes_to_fetch with each patch's bytes in
   * place of the compressed file it stands for. The progress function's
   * bytes_total starts here (see filedist_update_progress). */
  uint64_t bytes_expected;
  /* The number of the signed release this install holds, as the last apply
   * of a release signed by the trusted key recorded it (the floor older
   * releases are refused below); 0 where none was installed. */
  uint64_t installed_sequence;
} filedist_update_plan;

#ifdef __cplusplus
#  define FILEDIST_UPDATE_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#  define FILEDIST_UPDATE_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
/* The same layout in the 32-bit Windows and the 64-bit builds: every field
 * at a multiple of its own size, no padding. */
FILEDIST_UPDATE_STATIC_ASSERT(sizeof(filedist_update_plan) == 56, "the plan is 56 bytes");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, bytes_to_fetch) == 8, "bytes at 8");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, sequence) == 24, "sequence at 24");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, held_back) == 32, "held_back at 32");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, files_by_patch) == 36,
                              "files_by_patch at 36");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, bytes_expected) == 40,
                              "bytes_expected at 40");
FILEDIST_UPDATE_STATIC_ASSERT(offsetof(filedist_update_plan, installed_sequence) == 48,
                              "installed_sequence at 48");

/* Told how a download goes: bytes fetched so far of bytes_total, and the
 * release path of the file begun last (NULL-free, valid during the call).
 * Both count what comes over: a file made from a binary patch counts its
 * patch's bytes, any other its compressed size, and files already staged by
 * an earlier session count as fetched. bytes_total starts as the plan's
 * bytes_expected and grows only when a patch fails and its whole file is
 * fetched in its place; bytes_done never passes it, and the last call has
 * bytes_done == bytes_total. Called on the thread that called
 * filedist_update_download, at most ten times a second while files arrive
 * and once when all have. A non-zero return cancels: the transfers stop,
 * nothing installed is touched, and what was fetched and checked stays
 * staged for the next download.
 * The download is still running while the function runs: of the calls on
 * its session only filedist_update_error may be made from it. Every other
 * (set, check, download, apply, restart) is refused with
 * FILEDIST_UPDATE_E_USAGE and changes nothing, and filedist_update_close
 * does nothing there: return non-zero to stop, and close the session once
 * filedist_update_download has returned. Other sessions may be used. */
typedef int (*filedist_update_progress)(void *ctx, uint64_t bytes_done, uint64_t bytes_total,
                                        const char *path);

/* Opens a session on install_dir (the folder brought up to the release)
 * taking the release from source: a patch directory or the releases folder
 * whose LATEST names one, as a path or an http:// or https:// URL. Takes the
 * directory's lock. On success *out is the session (close it with
 * filedist_update_close); on failure *out is NULL and the code says why
 * (FILEDIST_UPDATE_E_LOCKED, _E_DISK, _E_USAGE for a NULL install_dir or
 * out). A key file filedist.pub in install_dir is trusted as the "trust"
 * option is.
 * A NULL or empty source takes the source that the last update of
 * install_dir recorded in its .filedist-install (an update that followed a
 * channel, or a `filedist update`), and the session remembers as the
 * "remember" option says: it follows the recorded channel too. _E_USAGE
 * when no update recorded a source, _E_DISK when the record is damaged. */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL filedist_update_open(const char *install_dir,
                                                                  const char *source,
                                                                  filedist_update **out);

/* Releases the lock and frees the session; NULL is ignored. Staged files
 * stay in the install directory for a later session. */
FILEDIST_UPDATE_API void FILEDIST_UPDATE_CALL filedist_update_close(filedist_update *session);

/* Sets an option by the long name `filedist update` gives it, with its value
 * as text (copied); for a flag, value is "1"/"0" (or NULL for "1"):
 *   "trust" FILE         releases must be signed with this Ed25519 public key
 *                        (or one of the keys the file holds); an empty name
 *                        is refused (_E_USAGE), never taken as "no key"
 *   "allow-downgrade"    take a signed release older than the installed one
 *   "jobs" N             files fetched, then placed, at once, 1 to 64 (default 8)
 *   "timeout" SECONDS    per network operation, 1 to 86400
 *   "retries" N          tries again after a failure that may pass, 0 to 100
 *   "ca" FILE            certificate authorities for https sources
 *   "prune"              apply removes files the release no longer lists
 *   "force"              with prune, also files changed since they were installed
 *   "repair"             re-key every listed file; fetch what does not match
 *   "no-delta"           fetch whole files only, never the release's binary patches
 *   "expected-sequence" N  the signed release must carry this number (as a
 *                        channel pointer signed by the trusted key names it),
 *                        0 (none) to 2^63 - 1; it may then be older than the
 *                        installed one (a pointer the session follows sets
 *                        its own)
 *   "channel" NAME       follow the channel NAME (letters, digits, '-', '_')
 *                        of a releases folder given as source: the release
 *                        its pointer channel.NAME names, checked as
 *                        `filedist update --channel` checks it (see
 *                        filedist_update_check); the session then records
 *                        as "remember" says
 *   "remember"           as `filedist update` does: follow the channel set,
 *                        else the one the last update recorded, else
 *                        "stable" (LATEST where the folder has no pointer
 *                        for it or no key is trusted); a successful apply
 *                        records the source, the channel and the pointer
 *                        taken in install_dir's .filedist-install, for a
 *                        session opened without a source and against
 *                        pointers served again. On for a session opened
 *                        without a source; "0" then takes LATEST of the
 *                        remembered source and records nothing
 * Options take effect at the next check. FILEDIST_UPDATE_E_USAGE for an
 * unknown name or a value out of range (nothing is changed then). */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL filedist_update_set(filedist_update *session,
                                                                 const char *option,
                                                                 const char *value);

/* Finishes an apply that an earlier run left unfinished, reads the release,
 * checks it (signature, rollback floor, list against its key file) and plans
 * the update. plan, when not NULL, is filled up to plan->size bytes.
 * FILEDIST_UPDATE_OK when there is something to fetch or remove,
 * FILEDIST_UPDATE_UP_TO_DATE when not; _E_NETWORK, _E_REFUSED, _E_DISK.
 * A session that follows a channel reads its pointer first. With a trusted
 * key the pointer must carry the key's signature and a sequence no lower
 * than the last one this install took from the channel; a newer pointer
 * that names an older release (the publisher's roll-back) is taken, and the
 * release must then carry the number it names. _E_REFUSED for a pointer
 * that is unsigned, forged, older than the last taken (served again),
 * expired or of another channel, and where the signed stable pointer taken
 * before is gone; _E_NETWORK when the source has no such channel; nothing
 * is finished or planned then. A pointer that offers its release to a share
 * of installs (a rollout) this install is outside of (by the identifier it
 * keeps in .filedist-id, made when first needed) gives
 * FILEDIST_UPDATE_UP_TO_DATE and an empty plan but for held_back 1 and
 * installed_sequence; download and apply then do nothing. The binary
 * patches are chosen here (the installed files they start from re-keyed),
 * so files_by_patch and bytes_expected are what the download will fetch
 * unless a patch then fails. */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL filedist_update_check(filedist_update *session,
                                                                   filedist_update_plan *plan);

/* Fetches the planned files into the staging folder and checks each against
 * its key (and the signed Manifest). Needs a successful check first
 * (_E_USAGE otherwise). progress may be NULL; ctx is passed to it.
 * FILEDIST_UPDATE_OK, _E_CANCELLED, _E_NETWORK, _E_REFUSED, _E_DISK. */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL
filedist_update_download(filedist_update *session, filedist_update_progress progress, void *ctx);

/* Installs what was downloaded: the journaled apply, files in use moved
 * aside on Windows (they are removed by a later session once nothing holds
 * them). Needs a successful download first (_E_USAGE otherwise).
 * FILEDIST_UPDATE_OK, FILEDIST_UPDATE_UP_TO_DATE when there was nothing to
 * place or remove, _E_DISK when a file could not be placed (the rest are;
 * the next session finishes). After an apply, check again before another.
 * A session that followed a channel (or remembers) then records the source,
 * the channel and the pointer taken, also when there was nothing to place
 * (a host that stops at an up-to-date check records nothing); _E_DISK when
 * the record could not be written, though the release is installed. The
 * pointer alone is recorded before anything changes, where the install
 * took one from that channel before: an apply that is stopped or cannot
 * place a file never lets the previous pointer, served again, take the
 * install back (_E_DISK, nothing placed, when it cannot be recorded). */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL filedist_update_apply(filedist_update *session);

/* Installs what was downloaded once the host is gone, and starts it again:
 * for a helper process (or `filedist update --wait-pid PID --then-run
 * PROGRAM`), started by a host whose own files are to be replaced, that
 * then exits. Waits until the process wait_pid has ended, at most
 * timeout_seconds (1 to 86400; wait_pid 0: no wait; above the system's
 * largest process id, 2^31 - 1 on POSIX and 2^32 - 1 on Windows: _E_USAGE,
 * as a -1 converted to uint64_t is), applies as
 * filedist_update_apply does, and then starts program (NULL: none) with
 * args, a NULL-terminated array of its arguments after its own name (NULL:
 * none); it runs on by itself, and is started whether or not the apply
 * succeeded, so that the user gets the application back either way. Needs a
 * successful download first (_E_USAGE otherwise, nothing waited for).
 * Returns _E_TIMEOUT when the process did not end in time (nothing applied
 * or started), the apply's failure when it failed, _E_START when the
 * program could not be started, else the apply's result (FILEDIST_UPDATE_OK
 * or FILEDIST_UPDATE_UP_TO_DATE). */
FILEDIST_UPDATE_API int FILEDIST_UPDATE_CALL filedist_update_restart(filedist_update *session,
                                                                     uint64_t wait_pid,
                                                                     int timeout_seconds,
                                                                     const char *program,
                                                                     const char *const *args);

/* The last failure in words ("" when the last call succeeded); owned by the
 * session, valid until the next call on it. NULL session: a text for a
 * failed filedist_update_open's lack of one. */
FILEDIST_UPDATE_API const char *FILEDIST_UPDATE_CALL
filedist_update_error(const filedist_update *session);

#ifdef __cplusplus
}
#endif

#endif /* FILEDIST_UPDATE_H */
