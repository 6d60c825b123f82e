#include "version/file_version.h"

// Not built yet.
bool CFileVersion::UpdateClientVersionInfo(const char*, const VersionEntry&) { return false; }
