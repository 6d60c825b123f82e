# The modules of filedist and the ones each may use, declared by each folder's
# CMakeLists.txt with filedist_module():
#
#   filedist_module(NAME
#     [TARGET target] [KIND OBJECT|STATIC|EXECUTABLE] [LIBRARY]
#     SOURCES a.cc ...           compiled on every system
#     POSIX_SOURCES ...          only in the POSIX build (posix/ files)
#     WIN32_SOURCES ...          only in the Windows build (win32/ files)
#     OTHER_SOURCES ...          back ends that this build does not take
#     PUBLIC_USES module ...     modules that this module's own headers include
#     USES module ...            modules that only its .cc files include
#   )
#
# A module's headers are reachable only through a folder of the build tree
# that holds nothing but a link named after the module (modules/NAME/NAME ->
# the module's folder), never through the project root. So a file compiles
# against the public headers, its own module and the modules it lists, and
# an #include of any other module's header fails with "No such file".
#
# "Uses" gives a module the headers (and, through them, the usage
# requirements) of another one, never its object files: those are assembled
# once, into the shared library and the static core (LIBRARY modules), or
# into the update engine, the transport and the program of their own.
#
# filedist_NAME_headers is the interface target that carries a module's headers;
# filedist_internals carries every module's, for the white-box tests, the
# fuzzers and the benchmarks.

# The direction, from the top: cli -> updater/interface -> update/release ->
# version/fileio -> signing -> protocol -> platform -> util (delta,
# zipengine and log beside them).
# What a release folder holds is protocol's, which both sides share: the
# client (update, updater) never uses release, the publisher's module, and
# protocol holds no cryptography (signing uses it to know what it signs).
# These uses would turn a dependency around and stop the configuration.
set(FILEDIST_FORBIDDEN_USES update:release updater:release protocol:signing)

add_library(filedist_public_headers INTERFACE)
target_include_directories(filedist_public_headers INTERFACE
  ${PROJECT_SOURCE_DIR}/include/filedist ${PROJECT_BINARY_DIR}/include/filedist
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_BINARY_DIR}/include)

add_library(filedist_internals INTERFACE)

set_property(GLOBAL PROPERTY FILEDIST_LIBRARY_MODULE_TARGETS "")

function(filedist_module name)
  cmake_parse_arguments(PARSE_ARGV 1 M "LIBRARY" "TARGET;KIND"
    "SOURCES;POSIX_SOURCES;WIN32_SOURCES;OTHER_SOURCES;PUBLIC_USES;USES")
  if(M_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "filedist_module(${name}): unknown arguments ${M_UNPARSED_ARGUMENTS}")
  endif()
  foreach(used IN LISTS M_PUBLIC_USES M_USES)
    if("${name}:${used}" IN_LIST FILEDIST_FORBIDDEN_USES)
      message(FATAL_ERROR "filedist_module(${name}): ${name} must not use ${used}")
    endif()
  endforeach()
  if(NOT M_TARGET)
    set(M_TARGET filedist_${name})
  endif()
  if(NOT M_KIND)
    set(M_KIND OBJECT)
  endif()

  set(sources ${M_SOURCES})
  if(FILEDIST_PLATFORM STREQUAL "win32")
    list(APPEND sources ${M_WIN32_SOURCES})
  else()
    list(APPEND sources ${M_POSIX_SOURCES})
  endif()

  # Every source file of the folder is in one of the lists: a file added to
  # the folder but not to its list would otherwise go unbuilt unnoticed.
  file(GLOB_RECURSE present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cc ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  list(REMOVE_ITEM present ${M_SOURCES} ${M_POSIX_SOURCES} ${M_WIN32_SOURCES} ${M_OTHER_SOURCES})
  if(present)
    message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt: add ${present} to the "
                        "module's source list")
  endif()

  # The module's include root: a folder with one link in it.
  set(root ${PROJECT_BINARY_DIR}/modules/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)

  add_library(filedist_${name}_headers INTERFACE)
  target_include_directories(filedist_${name}_headers INTERFACE ${root})
  target_link_libraries(filedist_${name}_headers INTERFACE filedist_public_headers)
  foreach(used IN LISTS M_PUBLIC_USES)
    target_link_libraries(filedist_${name}_headers INTERFACE filedist_${used}_headers)
  endforeach()
  target_link_libraries(filedist_internals INTERFACE filedist_${name}_headers)

  if(M_KIND STREQUAL "EXECUTABLE")
    add_executable(${M_TARGET} ${sources})
  else()
    add_library(${M_TARGET} ${M_KIND} ${sources})
  endif()
  target_link_libraries(${M_TARGET} PUBLIC filedist_${name}_headers)
  foreach(used IN LISTS M_USES)
    target_link_libraries(${M_TARGET} PRIVATE filedist_${used}_headers)
  endforeach()

  if(M_LIBRARY)
    # Compiled for the shared library: COMMON_API exports. Users of the
    # library, and of the static core, compile without it.
    target_compile_definitions(${M_TARGET} PRIVATE COMMON_BUILDING_LIBRARY)
    set_property(GLOBAL APPEND PROPERTY FILEDIST_LIBRARY_MODULE_TARGETS ${M_TARGET})
  endif()
endfunction()
