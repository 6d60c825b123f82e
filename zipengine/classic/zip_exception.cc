#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zip_classes.h"

CZipException::CZipException(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(m_message, sizeof m_message, format, args);
  va_end(args);
}

CZipException& CZipException::operator=(const CZipException& other) {
  std::memcpy(m_message, other.m_message, sizeof m_message);
  return *this;
}

const char* CZipException::GetString() const { return m_message; }
