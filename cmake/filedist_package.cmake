# `cpack` in a build folder packs what `cmake --install` installs: a Debian
# package (filedist_VERSION_ARCH.deb) natively, a zip
# (filedist-VERSION-win32.zip) in the Windows build. Packages land in
# <build>/packages/.
set(CPACK_PACKAGE_NAME filedist)
set(CPACK_PACKAGE_VENDOR "filedist")
set(CPACK_PACKAGE_CONTACT "filedist developers <filedist@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "The filedist library (libcommon) with its C and C++ headers, CMake package and\
 pkg-config file, the updater library for host programs (libfiledist_update), and\
 the filedist program that builds releases and updates clients.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Depends: from what the library and the program link (zlib, libcurl, the
  # C++ runtime); shlibs: so that packages built against this one depend on it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
