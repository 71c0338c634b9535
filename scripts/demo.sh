#!/usr/bin/env bash
# Builds the library and the morvel command (installing a compiler and
# CMake first where they are missing), linearizes the bundled example and
# checks the result.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-missing.sh cmake make g++
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DMORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo -j 2 >/dev/null
mkdir -p out
./build/demo/morvel check examples/sample.pdf || true
./build/demo/morvel optimize examples/sample.pdf out/sample-linearized.pdf
./build/demo/morvel check out/sample-linearized.pdf
