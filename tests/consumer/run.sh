#!/bin/bash
# Installs the project into a scratch prefix and builds a tiny C program
# against it three ways: find_package (shared and static), pkg-config, and
# plain -lmorvel; each must linearize the sample. Also adds the project to
# a parent with add_subdirectory, which must give morvel::morvel and no CLI.
#
# usage: tests/consumer/run.sh SOURCE_DIR SAMPLE_PDF
set -euo pipefail
src=$(realpath "$1")
sample=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$src/tests/consumer

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVEL_BUILD_TESTS=OFF \
      -DMORVEL_INSTALL_STATIC=ON -DCMAKE_INSTALL_PREFIX="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" >/dev/null
prefix=$work/prefix
libdir=$(dirname "$(find "$prefix" -name libmorvel.so -print -quit)")
export LD_LIBRARY_PATH=$libdir

# 1. find_package
cmake -S "$here" -B "$work/fp" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DMORVEL_STATIC_TARGET=ON >/dev/null
cmake --build "$work/fp" >/dev/null
"$work/fp/consumer_shared" "$sample" "$work/a.pdf"
"$work/fp/consumer_static" "$sample" "$work/b.pdf"
if ldd "$work/fp/consumer_static" | grep -q libmorvel; then echo "static consumer loads libmorvel.so" >&2; exit 1; fi

# 2. pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion morvel)" = 0.2.0 ]
# shellcheck disable=SC2046
cc -o "$work/pc" "$here/main.c" $(pkg-config --cflags --libs morvel)
"$work/pc" "$sample" "$work/c.pdf"

# 3. plain flags
cc -o "$work/plain" "$here/main.c" -I"$prefix/include" -L"$libdir" -lmorvel
"$work/plain" "$sample" "$work/d.pdf"
cmp "$work/a.pdf" "$work/d.pdf"

# The man page renders.
man -l "$(find "$prefix" -name morvel.1 -print -quit)" >/dev/null

# 4. add_subdirectory: the alias target, no command, no install rules.
mkdir -p "$work/parent"
cat > "$work/parent/CMakeLists.txt" <<PARENT
cmake_minimum_required(VERSION 3.20)
project(parent C CXX)
add_subdirectory("$src" morvel)
add_executable(consumer "$here/main.c")
target_link_libraries(consumer PRIVATE morvel::morvel)
if(TARGET morvel_cli)
  message(FATAL_ERROR "the command was added to a parent project")
endif()
PARENT
cmake -S "$work/parent" -B "$work/parent/build" -G Ninja >/dev/null
cmake --build "$work/parent/build" >/dev/null
"$work/parent/build/consumer" "$sample" "$work/e.pdf"
if grep -q "libmorvel" "$work/parent/build/morvel/cmake_install.cmake" 2>/dev/null; then
  echo "install rules were added to a parent project" >&2; exit 1
fi
echo "consumers ok"
