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
 * The 32-bit Windows common.dll carries its own static C++ runtime (it needs
 * no runtime DLLs), and with that runtime an exception cannot unwind into
 * another module: a separately built host that calls SwapSize in common.dll
 * ends in std::terminate when a run fails. Code linked with the library's
 * static core (as the filedist program is) catches it normally, and so
 * does every host on Linux.
 *
 * Destination
 * -----------
 * An existing destination is emptied when the run starts writing, so no old
 * bytes are left after the new output. A CUnzip whose input is refused (-1
 * before anything is written) leaves an existing destination as it was.
 *
 * Threads and state
 * -----------------
 * All objects share one process-wide engine with static buffers: one run at a
 * time in the process, and no CZip may be constructed while a run is going
 * on. Constructing a CZip records its source name in the engine; that name is
 * stored in the gzip header of the next compression and appears in the
 * messages of the next runs (of either class) until another CZip is made.
 * Runs allocate no memory.
 *
 * Ownership: the objects hold copies of the names; nothing they return needs
 * to be freed. The classes have no destructors of their own.
 */
#ifndef FILEDIST_ZIP_CLASSES_H
#define FILEDIST_ZIP_CLASSES_H

#include "filedist_export.h"

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
   * Returns one of the results above or throws CZipException. */
  int SwapSize(const char* destination);

 protected:
  /* The operation proper on two open descriptors. */
  virtual int HardWork(int sourceFd, int destinationFd) = 0;

  char m_source[516];
  /* "zipping" or "unzipping"; informative only. */
  const char* m_operation;
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
 * "problem with zipping/unzipping operation : 1". */
class COMMON_API CZipException {
 public:
  /* printf-style; the text is cut to fit the 128-byte field. */
  CZipException(const char* format, ...);
  CZipException& operator=(const CZipException& other);
  const char* GetString() const;

 private:
  char m_message[128];
};

#endif /* FILEDIST_ZIP_CLASSES_H */
