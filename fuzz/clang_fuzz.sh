#!/bin/sh
# Builds the fuzz targets with clang in their own build tree and fuzzes each
# for SECONDS, starting from its seed corpus. Exit 77 (skip) without clang.
# usage: clang_fuzz.sh SOURCE_DIR BUILD_DIR SECONDS
set -e
src=$1
build=$2
seconds=${3:-30}

cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cxx" ]; then
  echo "clang++ not found (apt-get install clang libclang-rt-14-dev): fuzz targets not run"
  exit 77
fi

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLINEWARDEN_CORE_ONLY=ON -DLINEWARDEN_FUZZ=ON -DLINEWARDEN_TESTS=OFF -DLINEWARDEN_BENCH=OFF \
  -DLINEWARDEN_FUZZ_SECONDS="$seconds" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 --target fuzz_all
if [ ! -x "$build/fuzz/fuzz_capture" ]; then
  grep -i "fuzz" "$build.configure.log" || true
  echo "clang cannot build libFuzzer programs (apt-get install libclang-rt-14-dev): skipped"
  exit 77
fi
ctest --test-dir "$build" -R '^fuzz_' --output-on-failure
