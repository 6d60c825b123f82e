#!/usr/bin/env bash
# Uses filedist the way a developer who consumes the library does, and checks
# the packages:
#   1. `cmake --install` of the native build: the exact file list, with the
#      manual page;
#   2. examples/plan_update built against that install with find_package and
#      with pkg-config, and run;
#   3. the same example built into a project that adds filedist's source tree
#      with add_subdirectory, and into one that takes it with FetchContent
#      (the library alone, as filedist::common);
#   4. the Debian package from cpack: its contents, installed with dpkg -i,
#      `filedist --version`, `man filedist`, the main job's release and update
#      with the installed program, the example against /usr; removed afterwards;
#   5. the Windows zip from cpack: its contents, and the example built with
#      the mingw tool chain and find_package against the unpacked zip, run
#      under Wine.
# Every artifact must carry the version of project() in CMakeLists.txt.
# Called by scripts/test_all.sh after both presets are built; runs alone too
# (it builds what it needs). Work folders: out/packaging/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

root=$PWD
work=$root/out/packaging
rm -rf "$work"
mkdir -p "$work"
started=$(date +%s)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
step() { echo "== $*"; }
passed=0
ok() {
  echo "ok: $*"
  passed=$((passed + 1))
}

version=$(sed -n 's/^project(filedist VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no 'project(filedist VERSION x.y.z' in CMakeLists.txt"
major=${version%%.*}
step "filedist $version"

# ---- the test data: two version lists and the plan a client gets ---------
# The release changed app.exe, added b.txt and dropped gone.txt; a.txt (same
# key) needs nothing.
printf '%s\r\n' \
  '.\bin\app.exe,0cc175b9c0f1b6a831c399e269772661,120' \
  '.\data\a.txt,92eb5ffee6ae2fec3ad71c777531578f,30' \
  '.\data\b.txt,4a8a08f09d37b73795649038408b5f33,45' > "$work/new.dat"
printf '%s\r\n' \
  '.\bin\app.exe,8277e0910d750195b448797616e091ad,100' \
  '.\data\a.txt,92eb5ffee6ae2fec3ad71c777531578f,30' \
  '.\old\gone.txt,e1671797c52e15f763380b45e841ec32,10' > "$work/local.dat"
cat > "$work/plan.expected" <<'EOF'
changed   .\bin\app.exe 0cc175b9c0f1b6a831c399e269772661 120
new       .\data\b.txt 4a8a08f09d37b73795649038408b5f33 45
obsolete  .\old\gone.txt
to fetch: 2 files, 165 bytes
EOF

# check_plan NAME COMMAND...: runs a plan_update build on the two lists.
check_plan() {
  local name=$1
  shift
  "$@" "$work/new.dat" "$work/local.dat" > "$work/plan.$name" 2>&1 ||
    { cat "$work/plan.$name"; fail "$name: plan_update failed"; }
  tr -d '\r' < "$work/plan.$name" | diff -u "$work/plan.expected" - ||
    fail "$name: plan_update printed another plan"
  ok "plan_update ($name)"
}

# check_files NAME ROOT EXPECTED: the files and links under ROOT are exactly
# the lines of EXPECTED.
check_files() {
  (cd "$2" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort) > "$work/$1.files"
  LC_ALL=C sort <<< "$3" | diff -u - "$work/$1.files" || fail "$1: other files than expected"
  ok "$1 holds exactly the expected files"
}

# check_version_header NAME FILE: the installed header carries the version.
check_version_header() {
  grep -qx "#define FILEDIST_VERSION_STRING \"$version\"" "$2" &&
    grep -qx "#define FILEDIST_VERSION_MAJOR $major" "$2" ||
    fail "$1: filedist_version.h does not say $version"
}

# ---- 1. cmake --install of the native build -------------------------------
step "native build and cmake --install"
cmake --preset native > /dev/null
cmake --build --preset native -j 2 > "$work/native-build.log" 2>&1 || { tail -n 30 "$work/native-build.log"; exit 1; }
stage=$work/stage
cmake --install out/native --prefix "$stage" > /dev/null
native_files="bin/filedist
include/filedist/common.h
include/filedist/filedist_export.h
include/filedist/filedist_update.h
include/filedist/filedist_version.h
include/filedist/zip_classes.h
lib/cmake/filedist/filedistConfig.cmake
lib/cmake/filedist/filedistConfigVersion.cmake
lib/cmake/filedist/filedistTargets-release.cmake
lib/cmake/filedist/filedistTargets.cmake
lib/libcommon.so
lib/libcommon.so.$major
lib/libcommon.so.$version
lib/libfiledist_update.so
lib/libfiledist_update.so.$major
lib/libfiledist_update.so.$version
lib/pkgconfig/filedist.pc
lib/pkgconfig/filedist_update.pc
share/man/man1/filedist.1"
check_files install "$stage" "$native_files"
check_version_header install "$stage/include/filedist/filedist_version.h"
[ "$(readlink "$stage/lib/libcommon.so")" = "libcommon.so.$major" ] ||
  fail "install: libcommon.so does not lead to libcommon.so.$major"
[ "$("$stage/bin/filedist" --version)" = "filedist $version" ] || fail "install: filedist --version"
# The page describes the program installed beside it: its version, and every
# command that program's --help lists.
man_text=$(MANWIDTH=80 man -l "$stage/share/man/man1/filedist.1" 2> "$work/man.err")
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "install: man -l filedist.1 warns"; }
grep -q "filedist $version" <<< "$man_text" || fail "install: the manual page's version"
for command in $("$stage/bin/filedist" --help | awk '/^commands:/ {on=1; next} on && /^  / {print $1} on && !/^  / {exit}'); do
  grep -q "filedist $command" <<< "$man_text" || fail "install: the manual page lacks filedist $command"
done

# ---- 2. consumers of the install ------------------------------------------
step "plan_update with find_package(filedist CONFIG)"
cmake -S examples/plan_update -B "$work/find-package" -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" > "$work/find-package.log" ||
  { cat "$work/find-package.log"; fail "find_package: configure"; }
grep -q "filedist_DIR:PATH=$stage/lib/cmake/filedist" "$work/find-package/CMakeCache.txt" ||
  fail "find_package found another filedist: $(grep filedist_DIR "$work/find-package/CMakeCache.txt")"
cmake --build "$work/find-package" > /dev/null
check_plan find-package "$work/find-package/plan_update"
# The version file: a program that asks for the next major version is refused.
mkdir -p "$work/next-major"
printf 'cmake_minimum_required(VERSION 3.21)\nproject(next_major LANGUAGES C)\nfind_package(filedist %s CONFIG REQUIRED)\n' \
  "$((major + 1)).0" > "$work/next-major/CMakeLists.txt"
if cmake -S "$work/next-major" -B "$work/next-major/build" -DCMAKE_PREFIX_PATH="$stage" \
     > "$work/next-major.log" 2>&1; then
  fail "find_package(filedist $((major + 1)).0) accepted filedist $version"
fi
grep -q "version: $version" "$work/next-major.log" || { cat "$work/next-major.log"; fail "next major"; }
ok "find_package(filedist $((major + 1)).0) refuses $version"

step "plan_update with pkg-config"
export PKG_CONFIG_PATH=$stage/lib/pkgconfig
[ "$(pkg-config --modversion filedist)" = "$version" ] || fail "pkg-config: version"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror $(pkg-config --cflags filedist) examples/plan_update/plan_update.c \
  -o "$work/plan_update-pkg-config" $(pkg-config --libs filedist) || fail "pkg-config: build"
unset PKG_CONFIG_PATH
[ "$(objdump -p "$work/plan_update-pkg-config" | awk '$1 == "NEEDED" && /libcommon/ {print $2}')" = \
  "libcommon.so.$major" ] || fail "pkg-config: plan_update does not need libcommon.so.$major"
check_plan pkg-config env LD_LIBRARY_PATH="$stage/lib" "$work/plan_update-pkg-config"

step "update_host with pkg-config and with find_package(filedist CONFIG)"
export PKG_CONFIG_PATH=$stage/lib/pkgconfig
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror $(pkg-config --cflags filedist_update) examples/update_host/update_host.c \
  -o "$work/update_host-pkg-config" $(pkg-config --libs filedist_update) || fail "pkg-config: update_host"
unset PKG_CONFIG_PATH
[ "$(objdump -p "$work/update_host-pkg-config" | awk '$1 == "NEEDED" && /filedist_update/ {print $2}')" = \
  "libfiledist_update.so.$major" ] || fail "update_host does not need libfiledist_update.so.$major"
cmake -S examples/update_host -B "$work/update-host" -DCMAKE_PREFIX_PATH="$stage" > /dev/null &&
  cmake --build "$work/update-host" > /dev/null || fail "find_package: update_host"
env LD_LIBRARY_PATH="$stage/lib" "$work/update-host/update_host" > /dev/null 2>&1 &&
  fail "update_host without arguments succeeded"
ok "update_host builds against filedist::update and pkg-config filedist_update"

# ---- 3. filedist's source tree inside another project ----------------------
step "plan_update in a project that adds filedist with add_subdirectory"
consumer=tests/consumers/subproject
cmake -S $consumer -B "$work/subdirectory" -DFILEDIST_SOURCE_DIR="$root" -DCMAKE_BUILD_TYPE=Release \
  > "$work/subdirectory.log" 2>&1 || { cat "$work/subdirectory.log"; fail "add_subdirectory: configure"; }
cmake --build "$work/subdirectory" -j 2 > "$work/subdirectory-build.log" 2>&1 ||
  { tail -n 30 "$work/subdirectory-build.log"; fail "add_subdirectory: build"; }
check_plan subdirectory "$work/subdirectory/plan_update"

step "plan_update in a project that takes filedist with FetchContent"
tar -czf "$work/filedist-src.tar.gz" --exclude=./out --exclude=./.git -C "$root" .
cmake -S $consumer -B "$work/fetchcontent" -DFILEDIST_ARCHIVE="$work/filedist-src.tar.gz" \
  -DCMAKE_BUILD_TYPE=Release > "$work/fetchcontent.log" 2>&1 ||
  { cat "$work/fetchcontent.log"; fail "FetchContent: configure"; }
cmake --build "$work/fetchcontent" -j 2 > "$work/fetchcontent-build.log" 2>&1 ||
  { tail -n 30 "$work/fetchcontent-build.log"; fail "FetchContent: build"; }
check_plan fetchcontent "$work/fetchcontent/plan_update"

# ---- 4. the Debian package -------------------------------------------------
step "cpack: Debian package"
(cd out/native && cpack > "$work/cpack-deb.log" 2>&1) || { cat "$work/cpack-deb.log"; fail "cpack DEB"; }
deb=$(ls out/native/packages/filedist_"$version"_*.deb)
[ "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" = "filedist $version" ] ||
  fail "deb: package name or version"
grep -q zlib1g <<< "$(dpkg-deb -f "$deb" Depends)" || fail "deb: no dependency on zlib"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort \
  > "$work/deb.files"
LC_ALL=C sort <<< "$native_files" | diff -u - "$work/deb.files" ||
  fail "deb: other files than the install"
ok "$(basename "$deb") holds the install, Depends: $(dpkg-deb -f "$deb" Depends)"

step "dpkg -i $(basename "$deb")"
remove_package() { $SUDO dpkg --purge filedist > /dev/null || true; }
if [ "$(dpkg-query -W -f='${Status}' filedist 2> /dev/null || true)" != "" ]; then
  # Left by a run that was stopped before it could clean up.
  echo "removing the filedist package that is installed already"
  remove_package
fi
trap remove_package EXIT
$SUDO dpkg -i "$deb" > /dev/null
[ "$(command -v filedist)" = /usr/bin/filedist ] || fail "deb: filedist is not /usr/bin/filedist"
installed_version=$(filedist --version)
[ "$installed_version" = "filedist $version" ] || fail "deb: filedist --version: $installed_version"
ok "installed: $installed_version"
[ "$(man -w filedist)" = /usr/share/man/man1/filedist.1 ] ||
  fail "deb: man filedist does not find /usr/share/man/man1/filedist.1"
MANWIDTH=80 man filedist 2> /dev/null | grep -q "filedist update" || fail "deb: man filedist"
ok "man filedist: $(man -w filedist)"
check_version_header deb /usr/include/filedist/filedist_version.h
step "the main job with /usr/bin/filedist"
FILEDIST_PROGRAM=/usr/bin/filedist bash scripts/run_main_job.sh > "$work/main-job.log" 2>&1 ||
  { tail -n 40 "$work/main-job.log"; fail "main job with the installed program"; }
ok "$(tail -n 1 "$work/main-job.log")"
step "plan_update against /usr (find_package and pkg-config without search paths)"
cmake -S examples/plan_update -B "$work/system-find-package" > "$work/system.log" ||
  { cat "$work/system.log"; fail "find_package of the installed package"; }
grep -q "filedist_DIR:PATH=/usr/lib/cmake/filedist" "$work/system-find-package/CMakeCache.txt" ||
  fail "find_package did not take /usr/lib/cmake/filedist"
cmake --build "$work/system-find-package" > /dev/null
check_plan system-find-package "$work/system-find-package/plan_update"
# shellcheck disable=SC2046
cc $(pkg-config --cflags filedist) examples/plan_update/plan_update.c -o "$work/plan_update-system" \
  $(pkg-config --libs filedist) || fail "pkg-config of the installed package"
check_plan system-pkg-config "$work/plan_update-system"
remove_package
trap - EXIT
[ ! -e /usr/bin/filedist ] && [ ! -e /usr/lib/cmake/filedist ] || fail "dpkg --purge left files behind"

# ---- 5. the Windows zip ----------------------------------------------------
step "win32 build and cpack: zip"
cmake --preset win32 > /dev/null
cmake --build --preset win32 -j 2 > "$work/win32-build.log" 2>&1 || { tail -n 30 "$work/win32-build.log"; exit 1; }
(cd out/win32 && cpack > "$work/cpack-zip.log" 2>&1) || { cat "$work/cpack-zip.log"; fail "cpack ZIP"; }
zip=out/win32/packages/filedist-$version-win32.zip
[ -f "$zip" ] || fail "no $zip"
unzip -q "$zip" -d "$work/zip"
win_root=$work/zip/filedist-$version-win32
check_files zip "$win_root" "bin/common.dll
bin/filedist.exe
bin/filedist_update.dll
include/filedist/common.h
include/filedist/filedist_export.h
include/filedist/filedist_update.h
include/filedist/filedist_version.h
include/filedist/zip_classes.h
lib/cmake/filedist/filedistConfig.cmake
lib/cmake/filedist/filedistConfigVersion.cmake
lib/cmake/filedist/filedistTargets-release.cmake
lib/cmake/filedist/filedistTargets.cmake
lib/libcommon.dll.a
lib/libfiledist_update.dll.a
lib/pkgconfig/filedist.pc
lib/pkgconfig/filedist_update.pc"
check_version_header zip "$win_root/include/filedist/filedist_version.h"
# The 32-bit package is no package for a 64-bit build.
if cmake -S examples/plan_update -B "$work/native-on-zip" -DCMAKE_PREFIX_PATH="$win_root" \
     > "$work/native-on-zip.log" 2>&1; then
  fail "a native build accepted the 32-bit Windows package"
fi
grep -q '(32bit)' "$work/native-on-zip.log" || { cat "$work/native-on-zip.log"; fail "native on zip"; }
ok "a native build refuses the 32-bit Windows package"
[ "$(wine "$win_root/bin/filedist.exe" --version | tr -d '\r')" = "filedist $version" ] ||
  fail "zip: filedist.exe --version"

step "plan_update with the mingw tool chain and find_package against the zip, under Wine"
cmake -S examples/plan_update -B "$work/mingw" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$win_root" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
  > "$work/mingw.log" || { cat "$work/mingw.log"; fail "mingw find_package: configure"; }
grep -q "filedist_DIR:PATH=$win_root/lib/cmake/filedist" "$work/mingw/CMakeCache.txt" ||
  fail "mingw find_package found another filedist"
cmake --build "$work/mingw" > /dev/null
[ -f "$work/mingw/common.dll" ] || fail "mingw: common.dll was not put beside plan_update.exe"
# Here-strings, not pipes, into grep -q: under pipefail the writer's SIGPIPE
# would turn a match into a failure.
grep -qi 'DLL Name: common.dll' <<< "$(i686-w64-mingw32-objdump -p "$work/mingw/plan_update.exe")" ||
  fail "mingw: plan_update.exe does not import common.dll"
check_plan mingw wine "$work/mingw/plan_update.exe"

echo "packaging checks done in $(( $(date +%s) - started )) s: install, find_package, pkg-config," \
  "add_subdirectory, FetchContent, Debian package, Windows zip"
echo "packaging: $passed passed, 0 failed"
