// `filedist gunzip`: a gzip file expanded as gzip -dc expands it, every
// member of it, into a file that changes only once the whole is written.
#ifndef FILEDIST_FILEIO_GUNZIP_FILE_H
#define FILEDIST_FILEIO_GUNZIP_FILE_H

enum class GunzipOutcome {
  kDone,
  kSameFile,        // source and dest are one file (nothing opened)
  kNoSource,        // source cannot be opened
  kNoDest,          // dest cannot be written or put in place
  kNotGzip,         // the engine does not read source (it said so)
  kEngineFailed,    // the engine stopped on source (it said why)
  kLaterMemberBad,  // the first member is sound, a later one is not
  kReadFailed,      // source could not be read to its end
};

// Expands source into dest. Input beginning with the gzip magic is decoded
// member after member (concatenated members are one file to gzip), each
// checked against its CRC-32 and length; anything else goes to the engine
// (CUnzip), which reads a single-entry zip archive and refuses the rest.
// The output goes to a temporary file beside dest, renamed over it only when
// whole: on any failure an existing dest stays as it was. Where the engine
// can say what is wrong with the first member it does, on standard error,
// as it always has; exceptions it throws reach the caller.
GunzipOutcome GunzipToFile(const char* source, const char* dest);

#endif  // FILEDIST_FILEIO_GUNZIP_FILE_H
