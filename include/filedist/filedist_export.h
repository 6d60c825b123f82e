/* Export and calling-convention markers shared by the public headers.
 *
 * COMMON_API marks what the shared library exports; COMMON_CALL pins the C
 * functions to cdecl so that their names stay undecorated in common.dll.
 * The library's own build defines COMMON_BUILDING_LIBRARY; the project's own
 * programs, which link the library's code statically, COMMON_STATIC_CORE. */
#ifndef FILEDIST_EXPORT_H
#define FILEDIST_EXPORT_H

#if defined(_WIN32)
#  if defined(COMMON_BUILDING_LIBRARY)
#    define COMMON_API __declspec(dllexport)
#  elif defined(COMMON_STATIC_CORE)
#    define COMMON_API
#  else
#    define COMMON_API __declspec(dllimport)
#  endif
#  define COMMON_CALL __cdecl
#else
#  define COMMON_API __attribute__((visibility("default")))
#  define COMMON_CALL
#endif

#endif /* FILEDIST_EXPORT_H */
