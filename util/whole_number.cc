#include "util/whole_number.h"

namespace util {

bool ParseCount(const char* text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t result = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(*c - '0');
    // Past the high end already, or about to be past 64 bits: either way
    // out of range, however many digits follow.
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

bool ParseCount(const char* text, int low, int high, int* value) {
  uint64_t parsed = 0;
  if (low < 0 || high < low ||
      !ParseCount(text, static_cast<uint64_t>(low), static_cast<uint64_t>(high), &parsed)) {
    return false;
  }
  *value = static_cast<int>(parsed);
  return true;
}

bool ParseCount(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  return text.find('\0') == std::string::npos && ParseCount(text.c_str(), low, high, value);
}

}  // namespace util
