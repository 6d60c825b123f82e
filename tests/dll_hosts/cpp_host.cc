// A C++ host of the shared library, compiled on its own against the public
// headers and the import library the way a user builds one (see
// check_dll_hosts.sh). It runs in a folder holding plain.txt and
// truncated.gz (a gzip file cut short) and reports every check that fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <filedist/common.h>
#include <filedist/zip_classes.h>

static int failures = 0;

static void Check(bool ok, const char* what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

int main() {
  // A failed run reaches this host as a CZipException it can catch.
  bool caught = false;
  try {
    CUnzip unzip("truncated.gz");
    unzip.SwapSize("truncated.out");
  } catch (const CZipException& error) {
    caught = true;
    Check(std::strcmp(error.GetString(), "problem with zipping/unzipping operation : 1") == 0,
          "the exception's text");
  }
  Check(caught, "CZipException from a truncated gzip file is caught");

  // ... and the host goes on: the engine runs again, results still come back
  // as values, and the host's own exceptions still work.
  CZip zip("plain.txt");
  Check(zip.SwapSize("plain.txt.gz") == 0, "CZip after the failure returns 0");
  CUnzip unzip("plain.txt.gz");
  Check(unzip.SwapSize("round.txt") == 0, "CUnzip after the failure returns 0");
  CUnzip missing("missing.gz");
  Check(missing.SwapSize("missing.out") == -11, "a missing source returns -11");
  Check(zip.SwapSize("plain.txt") == -10, "the source's own name returns -10");
  try {
    throw std::runtime_error("host");
  } catch (const std::exception& error) {
    Check(std::strcmp(error.what(), "host") == 0, "the host's own exception");
  }

  // The library catches exceptions of its own too: with a locale name that
  // the C++ runtime does not know, reading a version list throws and catches
  // inside the library. It must come back with its failure result.
  static char locale_setting[] = "LC_ALL=xx_NOWHERE.UTF-8";
  putenv(locale_setting);
  VersionEntry* records = nullptr;
  int count = -1;
  Check(LoadVersionInfo("missing.dat", &records, &count) == 0, "LoadVersionInfo of a missing list");

  std::printf("%s\n", failures == 0 ? "host ok" : "host failed");
  return failures == 0 ? 0 : 1;
}
