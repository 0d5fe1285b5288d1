#!/usr/bin/env bash
# Builds the program and the fuzz targets with clang as libFuzzer targets into build-fuzz/,
# then fuzzes each target briefly from its generated seeds (QOR_FUZZ_RUNS inputs, 2000
# unless set). Run it before a stop: CI's time goes to the tests, and this build catches
# what only clang refuses and what the fuzzers find first. Installs clang and the
# libFuzzer runtime from Debian when they are missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"

bash "$root/scripts/install-deps.sh" clang libclang-rt-14-dev

# The same cache as the ordinary build; clang's entries are its own.
source "$root/scripts/ccache-env.sh"

# The program's own tests and benchmarks stay with the ordinary build.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DQOR_BUILD_FUZZ=ON -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCH=OFF \
  -DQOR_FUZZ_RUNS="${QOR_FUZZ_RUNS:-2000}" >/dev/null
cmake --build "$build" -j"${QOR_JOBS:-$(nproc)}"

ctest --test-dir "$build/fuzz" --output-on-failure
