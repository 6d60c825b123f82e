# What `cmake --install` puts under the prefix, the same on Linux and Windows:
#   bin/filedist(.exe), bin/common.dll      the program; the DLL on Windows
#   lib/libcommon.so.1.x.y and its links    the shared library on Linux
#   lib/libcommon.dll.a                     the import library on Windows
#   lib/libfiledist_update.so.1.x.y, links  the updater library on Linux
#   bin/filedist_update.dll, lib/libfiledist_update.dll.a   and on Windows
#   include/filedist/*.h                    the public headers
#   lib/cmake/filedist/                     find_package(filedist CONFIG): filedist::common,
#                                           filedist::update
#   lib/pkgconfig/filedist.pc               pkg-config --cflags --libs filedist
#   lib/pkgconfig/filedist_update.pc        pkg-config --cflags --libs filedist_update
#   share/man/man1/filedist.1               the program's manual page (not on Windows)
include(CMakePackageConfigHelpers)

set(FILEDIST_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/filedist)

install(TARGETS common filedist_update EXPORT filedistTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET filedist)
  install(TARGETS filedist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT WIN32)
    install(FILES ${FILEDIST_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

# Every header in include/filedist/ is public; the ones beside that folder
# serve only the project's own programs.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/filedist/ ${PROJECT_BINARY_DIR}/include/filedist/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/filedist FILES_MATCHING PATTERN "*.h")

install(EXPORT filedistTargets NAMESPACE filedist:: DESTINATION ${FILEDIST_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/filedistConfig.cmake.in
  ${PROJECT_BINARY_DIR}/filedistConfig.cmake INSTALL_DESTINATION ${FILEDIST_CMAKE_DIR})
# A program built against 1.x runs against any later 1.y; the version file
# also refuses a package built for another pointer size (the 32-bit DLL for
# a 64-bit build).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/filedistConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/filedistConfig.cmake ${PROJECT_BINARY_DIR}/filedistConfigVersion.cmake
  DESTINATION ${FILEDIST_CMAKE_DIR})

# The pkg-config file names its folders relative to itself, so the installed
# tree works wherever it lands: a --prefix, the Debian package's /usr, an
# unpacked zip.
file(RELATIVE_PATH FILEDIST_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" FILEDIST_PC_TO_PREFIX "${FILEDIST_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/filedist.pc.in ${PROJECT_BINARY_DIR}/filedist.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/filedist_update.pc.in
               ${PROJECT_BINARY_DIR}/filedist_update.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/filedist.pc ${PROJECT_BINARY_DIR}/filedist_update.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
