#include "version/file_version.h"

// Not built yet.
int CFileVersion::GenerateFileVersionInfo(const char*) { return 0; }
int CFileVersion::CompressFileVersionInfo(const char*) { return 0; }
int CFileVersion::WriteFileVersionInfo() { return 0; }
int CFileVersion::GenerateReleasePatch(const char*, char*) { return 0; }
