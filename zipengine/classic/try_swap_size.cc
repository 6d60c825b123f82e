// The non-throwing SwapSize that a host's inline SwapSize calls: the engine's
// CZipException is caught here, inside the library, where the runtime that
// threw it also unwinds it, and handed back for the host to throw itself.
#include "zip_classes.h"

bool CMamaZip::TrySwapSize(const char* destination, int* result, CZipException* failure) {
  try {
    *result = SwapSize(destination);
    return true;
  } catch (const CZipException& error) {
    *failure = error;
    return false;
  }
}
