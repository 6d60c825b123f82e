#include "version/file_version.h"

#include <new>

void CFileVersion::Reset() {
  m_scanList.clear();
  m_startupDir.clear();
  m_sourceDir.clear();
  m_outputDir.clear();
  m_patchDir.clear();
  m_newList.clear();
  m_localList.clear();
  m_newIndex.clear();
  m_localIndex.clear();
  m_earlierPatchDir.clear();
  m_earlierKeys.clear();
  m_scanCrcs.clear();
  m_scanFacts.clear();
}

// Made at load time and never destroyed: hosts may call the library from
// their own static destructors, after this module's would have run.
CFileVersion* g_fileVersion = new (std::nothrow) CFileVersion();
