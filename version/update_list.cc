#include "version/file_version.h"

// Not built yet.
bool CFileVersion::GenerateUpdateList(const char*, const char*, VersionRecordList*, int*) { return false; }
