#include "zip_classes.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"
#include "zipengine/classic/engine.h"
#include "zipengine/classic/gzip_compressor.h"
#include "zipengine/classic/gzip_decompressor.h"

#ifndef O_BINARY
#  define O_BINARY 0
#endif

namespace {

const char kZipping[] = "zipping";
const char kUnzipping[] = "unzipping";

// Copies name into a field of `size` bytes; a name that does not fit leaves
// the field empty, which no file can be opened by.
void CopyName(char* field, size_t size, const char* name) {
  size_t length = std::strlen(name);
  if (length < size) {
    std::memcpy(field, name, length + 1);
  } else {
    field[0] = '\0';
  }
}

// The name the next compression stores in its header (a CZip's name always
// fits the field; the bound only keeps the copy safe).
void RecordStoredName(zipengine::Engine* engine, const char* source) {
  char* field = engine->input_name;
  size_t length = std::strlen(source);
  if (length >= sizeof engine->input_name) length = sizeof engine->input_name - 1;
  std::memcpy(field, source, length);
  field[length] = '\0';
}

}  // namespace

CMamaZip::CMamaZip(const char* source) : m_operation(nullptr) { CopyName(m_source, sizeof m_source, source); }

CMamaZip::CMamaZip(const CMamaZip& other) : m_operation(other.m_operation) {
  std::memcpy(m_source, other.m_source, sizeof m_source);
}

CMamaZip& CMamaZip::operator=(const CMamaZip& other) {
  std::memcpy(m_source, other.m_source, sizeof m_source);
  m_operation = other.m_operation;
  return *this;
}

int CMamaZip::SwapSize(const char* destination) {
  if (std::strcmp(m_source, destination) == 0) return -10;
  // The same file under another spelling (./x, a link, other letter case on
  // Windows) would be emptied by the run that reads it, or read back its own
  // output without end; asked before anything is opened.
  if (plat::IsSameFile(m_source, destination)) return -10;
  int source_fd = open(m_source, O_RDONLY | O_BINARY);
  if (source_fd < 0) return -11;
  int destination_fd = open(destination, O_RDWR | O_CREAT | O_BINARY, 0666);
  if (destination_fd < 0) {
    close(source_fd);
    return -12;
  }
  int result = HardWork(source_fd, destination_fd);
  close(source_fd);
  close(destination_fd);
  return result;
}

CZip::CZip(const char* source) : CMamaZip(source) {
  m_operation = kZipping;
  // The header stores this name, and it must fit the engine's field too.
  zipengine::Engine* engine = zipengine::SharedEngine();
  if (std::strlen(m_source) >= sizeof engine->input_name) m_source[0] = '\0';
  RecordStoredName(engine, m_source);
  engine->store_name = 1;
}

CZip::CZip(const CZip& other) : CMamaZip(other) {}

CZip& CZip::operator=(const CZip& other) {
  CMamaZip::operator=(other);
  return *this;
}

int CZip::HardWork(int sourceFd, int destinationFd) {
  zipengine::Engine* engine = zipengine::SharedEngine();
  // The run stores and reports its own source, whichever CZip came last.
  RecordStoredName(engine, m_source);
  return zipengine::CompressRun(engine, {sourceFd, destinationFd, m_source});
}

CUnzip::CUnzip(const char* source) : CMamaZip(source) { m_operation = kUnzipping; }

CUnzip::CUnzip(const CUnzip& other) : CMamaZip(other) {}

CUnzip& CUnzip::operator=(const CUnzip& other) {
  CMamaZip::operator=(other);
  return *this;
}

int CUnzip::HardWork(int sourceFd, int destinationFd) {
  // Its messages name the file it reads, whole, not the last CZip's source.
  return zipengine::DecompressRun(zipengine::SharedEngine(), {sourceFd, destinationFd, m_source});
}
