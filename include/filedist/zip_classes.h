/* zip_classes.h - compress one file into a gzip file, or expand one.
 *
 * Use
 * ---
 *   CZip zip("data.bin");                  // or CUnzip unzip("data.bin.gz")
 *   try {
 *     int result = zip.SwapSize("data.bin.gz");
 *   } catch (const CZipException& e) {
 *     puts(e.GetString());
 *   }
 *
 * SwapSize results
 * ----------------
 *     0  the operation completed.
 *    -1  CUnzip only: the source is not a gzip member (RFC 1952) or a zip
 *        archive whose first entry is stored or deflated, its header is
 *        refused, or the zip archive holds more than one entry (the first
 *        entry has then been written). A message is on standard error.
 *   -10  the destination is the source file: the same name, or another
 *        name of the same file (./x, a hard or symbolic link, other letter
 *        case on Windows), told by the files' identities (device and inode,
 *        or volume serial number and file index). Nothing was read or
 *        written: the file is untouched.
 *   -11  the source cannot be opened, or its name did not fit the object
 *        (515 bytes for a CUnzip, 259 for a CZip, whose name also goes into
 *        the gzip header and the messages).
 *   -12  the destination cannot be opened or created.
 *
 * Exceptions
 * ----------
 * A compression that cannot write its output, and a decompression that meets
 * a read error, an early end of input or corrupt data (bad Huffman codes,
 * distances before the start of the data, a CRC or length that does not
 * match) write a message to standard error, close both files and throw a
 * CZipException by value out of SwapSize. The destination keeps what was
 * written before the error; it is not removed.
 *
 * Where the exception is thrown: in the host's own code. The 32-bit Windows
 * common.dll carries its own static C++ runtime (it needs no runtime DLLs),
 * and an exception thrown by one runtime copy cannot unwind through frames
 * that another copy registered: a throw from inside common.dll ended any
 * separately built host in std::terminate. So for a host SwapSize is the
 * inline function below: it calls the exported TrySwapSize, which catches
 * the engine's failure inside the library and hands it back, and throws the
 * CZipException from the host's side, where the host's own runtime unwinds
 * and catches it: the shared libstdc++-6.dll of a host built with the
 * compiler's default flags, or the copy that -static-libgcc
 * -static-libstdc++ links into it. Any C++ host compiled against this header
 * catches it, on Windows and on Linux alike. A host compiled against an
 * older copy of this header calls the exported SwapSize, which still throws
 * from inside the library; rebuild it with this one.
 *
 * Destination
 * -----------
 * An existing destination is emptied when the run starts writing, so no old
 * bytes are left after the new output. A CUnzip whose input is refused (-1
 * before anything is written) leaves an existing destination as it was.
 *
 * Messages
 * --------
 * The engine writes its diagnostics to standard error. They begin with the
 * program field "filedist" and, where a file is concerned, go on with the
 * source name of the object that runs, whole and as given to its
 * constructor:
 *   filedist: data.bin.gz: not in gzip format
 * A CUnzip's messages name its own source (never a CZip's). CZipException
 * carries only the fixed text below.
 *
 * Threads and state
 * -----------------
 * All objects share one process-wide engine with static buffers: one run at a
 * time in the process, and no CZip may be constructed while a run is going
 * on. A compression stores the base name of its own source in the gzip
 * header, whichever CZip was constructed last. Runs allocate no memory.
 *
 * Ownership: the objects hold copies of the names; nothing they return needs
 * to be freed. The classes have no destructors of their own.
 */
#ifndef FILEDIST_ZIP_CLASSES_H
#define FILEDIST_ZIP_CLASSES_H

#include "filedist_export.h"

class CZipException;

/* Abstract base: the source name and the open/run/close sequence. */
class COMMON_API CMamaZip {
 public:
  /* Copies the source name; a name of 516 bytes or more is not kept and
   * SwapSize then returns -11. */
  explicit CMamaZip(const char* source);
  CMamaZip(const CMamaZip& other);
  /* Copies the source name and the operation name; the object keeps its
   * own class (and so its own HardWork). */
  CMamaZip& operator=(const CMamaZip& other);

  /* Refuses a destination that is the source file under any name (-10),
   * then opens the source for reading and the destination for reading and
   * writing (created when missing), runs HardWork on them and closes both.
   * Returns one of the results above or throws CZipException. The library
   * exports it as it always did; a host compiles the inline form below
   * (see Exceptions), which behaves the same. */
#if defined(COMMON_BUILDING_LIBRARY)
  int SwapSize(const char* destination);
#else
  /* The ABI tag gives the host's copy a link name of its own: the exported
   * SwapSize keeps its name for hosts built before, and neither can stand in
   * for the other (on Linux the host's copy would otherwise take the place
   * of the library's inside TrySwapSize and call itself). */
  inline int SwapSize(const char* destination) __attribute__((abi_tag("host")));
#endif

 protected:
  /* The operation proper on two open descriptors. */
  virtual int HardWork(int sourceFd, int destinationFd) = 0;

  char m_source[516];
  /* "zipping" or "unzipping"; informative only. */
  const char* m_operation;

 private:
  /* SwapSize that does not throw: true with SwapSize's result in *result,
   * or false with the engine's CZipException copied into *failure (both
   * files closed). What a host's SwapSize calls. */
  bool TrySwapSize(const char* destination, int* result, CZipException* failure);
};

/* Compresses the source into one gzip member at level 6, storing the source's
 * base name in the header. */
class COMMON_API CZip : public CMamaZip {
 public:
  /* Also records the name in the engine (see Threads and state). */
  explicit CZip(const char* source);
  CZip(const CZip& other);
  CZip& operator=(const CZip& other);

 protected:
  int HardWork(int sourceFd, int destinationFd) override;
};

/* Expands a gzip member, or the first entry of a zip archive. */
class COMMON_API CUnzip : public CMamaZip {
 public:
  explicit CUnzip(const char* source);
  CUnzip(const CUnzip& other);
  CUnzip& operator=(const CUnzip& other);

 protected:
  int HardWork(int sourceFd, int destinationFd) override;
};

/* Thrown by value when a run fails; the text is
 * "problem with zipping/unzipping operation : 1". A host catches it like an
 * exception of its own, because for a host it is one (see Exceptions). */
class COMMON_API CZipException {
 public:
  /* printf-style; the text is cut to fit the 128-byte field. */
  CZipException(const char* format, ...);
  /* The plain byte copy that a throw or a catch by value makes; declared
   * because the user-declared assignment leaves the implicit one
   * deprecated, which warns in every host that throws one. */
  CZipException(const CZipException& other) = default;
  CZipException& operator=(const CZipException& other);
  const char* GetString() const;

 private:
  char m_message[128];
};

#if !defined(COMMON_BUILDING_LIBRARY)
/* The throw happens here, in the host's code and so in the host's runtime. */
inline int CMamaZip::SwapSize(const char* destination) {
  int result = 0;
  CZipException failure("%s", "");
  if (!TrySwapSize(destination, &result, &failure)) throw failure;
  return result;
}
#endif

#endif /* FILEDIST_ZIP_CLASSES_H */
