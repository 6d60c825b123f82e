#include "version/file_version.h"

// Not built yet.
void CFileVersion::LoadFilters(const char*) {}
void CFileVersion::ScanDirectory(const char*) {}
