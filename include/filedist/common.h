/* common.h - the C interface of the file-distribution library.
 *
 * Conventions
 * -----------
 * - Text is narrow: bytes in the system's ANSI code page on Windows, bytes as
 *   the file system takes them on POSIX systems. Every string argument is
 *   NUL-terminated.
 * - Paths may use the backslash or the slash as separator. Relative paths that
 *   the library writes into version lists always use the backslash
 *   (".\data\a.txt"), so that lists made on any system serve Windows clients.
 * - Relative paths given to BuildVer, and the paths in version lists, are
 *   resolved against the startup directory: the directory of the host
 *   program's executable, not the current directory and not the library's.
 * - Functions with a result return 1 for success and 0 for failure.
 * - Ownership: arrays of VersionEntry handed out by LoadVersionInfo and
 *   GenerateUpdateList belong to the library's heap. Give them back with
 *   FreeVersionInfo or FreeUpdateList (either releases an array from either
 *   source), never with your own allocator. Both set the caller's pointer to
 *   NULL, so a second call on the same variable does nothing.
 * - Threads: the library keeps one process-wide version object. Call the
 *   functions from one thread at a time.
 * - Files the library writes are byte-identical on every target: text files
 *   end their lines with carriage return and line feed.
 */
#ifndef FILEDIST_COMMON_H
#define FILEDIST_COMMON_H

#include <stddef.h>

#include "filedist_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Lengths of the text fields of a VersionEntry, terminator included. */
#define VERSION_PATH_SIZE 1024
#define VERSION_KEY_SIZE 33

/* Values of VersionEntry.flag. */
enum {
  ENTRY_LISTED = 0,  /* read from, or to be written to, a version list */
  ENTRY_NEW = 1,     /* update list: fetch it (not installed, or a missing .exe/.dll) */
  ENTRY_CHANGED = 2, /* update list: fetch it (its key differs from the client's) */
  ENTRY_OBSOLETE = 3 /* update list: the client has it, the new release does not */
};

/* One file of a version list. Arrays of it cross the library boundary with
 * records exactly 1068 bytes apart; the layout is fixed. */
typedef struct VersionEntry {
  char path[VERSION_PATH_SIZE]; /* NUL-terminated; at most 1023 characters */
  char key[VERSION_KEY_SIZE];   /* 32 lowercase hex digits of the MD5 digest */
  char reserved0[3];            /* padding, contents unspecified */
  int size;                     /* the size recorded in the version list */
  unsigned char flag;           /* one of the ENTRY_* values */
  char reserved1[3];            /* padding, contents unspecified */
} VersionEntry;

#ifdef __cplusplus
#  define COMMON_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#  define COMMON_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
COMMON_STATIC_ASSERT(sizeof(int) == 4, "VersionEntry.size is a 32-bit integer");
COMMON_STATIC_ASSERT(sizeof(VersionEntry) == 1068, "VersionEntry is 1068 bytes");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, path) == 0, "path at 0");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, key) == 1024, "key at 1024");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, reserved0) == 1057, "padding at 1057");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, size) == 1060, "size at 1060");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, flag) == 1064, "flag at 1064");
COMMON_STATIC_ASSERT(offsetof(VersionEntry, reserved1) == 1065, "padding at 1065");

/* Builds a release of sourceDir: keys and compresses every file that
 * Filters.ini (in the startup directory) does not exclude, writes VerComp.dat
 * and Ver into the startup directory, and gathers everything in a new
 * directory releaseDir\Patch_YYYYMMDD_HHMMSS. outputDir receives the
 * temporary tree __CompressTemp__, removed after success. patchDirOut, if not
 * NULL, must hold 1024 bytes; it receives the patch directory's path.
 * Empty files are released like any other. A file that cannot be read stops
 * the release (an ERROR line names it) instead of being released under a key
 * that is not its contents'. Links inside sourceDir are released as what they
 * lead to; a dangling link or one that leads back into the tree stops the
 * release. One build at a time per startup directory and per releaseDir (a
 * second returns 0 at once); overlapping directories are refused before
 * anything is touched, and an existing patch directory is never reused.
 * VerComp.dat and Ver are replaced by rename, never left half-written.
 * The patch directory also receives a Manifest: a release number one above
 * the highest in releaseDir, the build time, the SHA-256 digests and sizes
 * of its compressed VerComp.dat and Ver, and for every file the SHA-256
 * digest and size of its content, its compressed size and whether it is
 * executable; "filedist build --sign" signs it, VerifyReleaseManifest checks
 * it. VerComp.dat and Ver are the same with or without it.
 * Returns 1 on success, 0 on failure (the log file says why). */
COMMON_API int COMMON_CALL BuildVer(const char* sourceDir, const char* outputDir,
                                    const char* releaseDir, char* patchDirOut);

/* Reads the version list at listPath. On success returns 1 and sets *count
 * and *records (NULL for an empty list; otherwise an array to give back with
 * FreeVersionInfo). On failure returns 0 and leaves both untouched.
 * Lines of any length are read whole: a record whose path or key does not fit
 * its field is skipped and the lines after it are still read; a size beyond
 * 32 bits reads as 2147483647. The list is plain text: decompress a release's
 * gzip VerComp.dat with MakeClientFile first. */
COMMON_API int COMMON_CALL LoadVersionInfo(const char* listPath, VersionEntry** records,
                                           int* count);

/* Compares the new version list with the client's own and hands out the
 * update list: ENTRY_NEW and ENTRY_CHANGED records in new-list order, then
 * ENTRY_OBSOLETE records in local-list order. *totalSize is the sum of the
 * sizes to fetch, clamped to 2147483647. *records is never NULL on success
 * (give it back with FreeUpdateList). The local list stays loaded for
 * UpdateClientVersionInfo. Returns 0, touching no output, if either list
 * cannot be read (a missing local list is a failure, an empty one is not). */
COMMON_API int COMMON_CALL GenerateUpdateList(const char* newListPath, const char* localListPath,
                                              VersionEntry** records, int* count, int* totalSize);

/* Give back an array from LoadVersionInfo or GenerateUpdateList and set
 * *records to NULL. NULL arguments are ignored. The two are interchangeable. */
COMMON_API void COMMON_CALL FreeUpdateList(VersionEntry** records);
COMMON_API void COMMON_CALL FreeVersionInfo(VersionEntry** records);

/* Records that the file of entry is now installed: changes the key of the
 * path in the local list loaded by the last GenerateUpdateList, or appends
 * the record, and rewrites the whole list at listPath (atomically: the old
 * list stays whole if writing fails). The new text goes to a temporary file
 * beside the list, made as MakeClientFile makes its own, so a leftover of a
 * crashed call never stands in the way. Returns 1 if the list was written. */
COMMON_API int COMMON_CALL UpdateClientVersionInfo(const char* listPath, VersionEntry entry);

/* Decompresses the fetched gzip file sourceFile into targetFile, creating
 * directories as needed and replacing a read-only target. A source that is
 * not gzip is copied as it is. The target is replaced only when the whole
 * stream decoded; returns 0 and leaves it untouched otherwise. Returns 0 and
 * touches nothing when the two name one file (any spelling: "./x", a link,
 * other letter case on Windows).
 * The new file is written beside the target under a short temporary name of
 * its own (".~fd" and hexadecimal digits), created afresh, never taking over
 * an existing file, and removed on failure; then it is renamed over the
 * target. On POSIX the replacement keeps the target's permission bits, and a
 * target that is a symbolic link stays a link: the file it points to gets
 * the new contents. A target that a running program holds (on Windows its
 * program file or a DLL it loaded) cannot be replaced: the result is 0 and
 * the target stays as it was; MakeClientFileEx can move it aside instead. */
COMMON_API int COMMON_CALL MakeClientFile(const char* sourceFile, const char* targetFile);

/* Flags of MakeClientFileEx. */
enum {
  /* A target that another program holds so that it cannot be overwritten
   * (on Windows: a running program, a loaded DLL) is renamed aside in its
   * own directory first, and the new file takes its name. */
  CLIENT_FILE_MOVE_ASIDE = 0x1
};

/* MakeClientFile with flags (0, or CLIENT_FILE_MOVE_ASIDE). With no flags it
 * is MakeClientFile. Returns 0 and touches nothing for any other bit.
 * With CLIENT_FILE_MOVE_ASIDE, a target that MakeClientFile cannot replace
 * because a running program holds it is renamed to ".~old-", eight
 * hexadecimal digits, "-" and its own name (the digits alone where the path
 * would grow too long) in the same directory, and the new file is put in
 * its place; the program keeps running the old copy until it ends, and picks
 * up the new file when it starts again. The old copy is the host's to
 * remove: delete the ".~old-" files of the directories it updates later, for
 * instance when it starts next; a deletion that fails means the copy is
 * still in use. A target open without leave to delete it (a document a
 * program has open) cannot be renamed either: the result is then 0 and the
 * target untouched, as without the flag. On POSIX systems a running
 * program's file is replaced without the flag and nothing is renamed. */
COMMON_API int COMMON_CALL MakeClientFileEx(const char* sourceFile, const char* targetFile,
                                            unsigned flags);

/* Writes the file key of filePath (32 lowercase hex digits of its MD5 digest
 * and a NUL) into keyOut, which must hold 33 bytes, and prints
 * "MD5 (path) = key" on standard output. A file that cannot be opened gets
 * 32 zero digits and the line "path can't be opened"; only regular files are
 * read, so a directory or a named pipe gets that answer at once. */
COMMON_API void COMMON_CALL GetFileKey(const char* filePath, char* keyOut);

/* Creates dirPath with all its missing parents. Returns 1 if it exists
 * afterwards (an existing file counts), else 0. */
COMMON_API int COMMON_CALL MakeDirTree(const char* dirPath);

/* Switches the log file BuildVer.log beside the host executable on: 1 writes
 * errors, 2 adds warnings, 3 information, 4 everything. 0 or any value
 * outside 0..4 switches logging off. The file is appended to, never
 * truncated. */
COMMON_API void COMMON_CALL SetLogLevel(int level);

/* Checks the signed release in the patch directory patchDir with the Ed25519
 * public key in publicKeyFile (a file made by "filedist keygen"):
 * patchDir\Manifest.sig must be that key's signature over patchDir\Manifest,
 * the Manifest must be well formed, and patchDir\VerComp.dat and
 * patchDir\Ver (the compressed files, as clients fetch them) must have the
 * SHA-256 digests and sizes it lists. Nothing is written. Relative paths are
 * taken as the system takes them (the current directory), as
 * LoadVersionInfo does. Returns 1 when all of that holds; 0 for a NULL or
 * empty argument and for any failure, with an ERROR line in the log naming
 * what failed. The other files of the release are listed in the Manifest
 * with their SHA-256 digests for the client that fetches them. */
COMMON_API int COMMON_CALL VerifyReleaseManifest(const char* patchDir, const char* publicKeyFile);

/* Opens port in the Windows Firewall (tcp nonzero: TCP, zero: UDP) under
 * name. Returns 1 on success or if an enabled entry exists; 0 otherwise and
 * always on systems without the Windows Firewall. */
COMMON_API int COMMON_CALL AddPort2FW(int port, int tcp, const char* name);

/* Authorises the program imagePath in the Windows Firewall under name.
 * Results as AddPort2FW. */
COMMON_API int COMMON_CALL AddProc2FW(const char* imagePath, const char* name);

#ifdef __cplusplus
}
#endif

#endif /* FILEDIST_COMMON_H */
