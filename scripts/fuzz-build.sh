#!/usr/bin/env bash
# Builds the program and the fuzz targets with clang as libFuzzer targets into build-fuzz/,
# then fuzzes each target briefly from its generated seeds (QOR_FUZZ_RUNS inputs, 2000
# unless set). Run it before a stop: CI's time goes to the tests, and this build catches
# what only clang refuses and what the fuzzers find first. Installs clang and the
# libFuzzer runtime from Debian when they are missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"

packages=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installiere fehlende Pakete: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The same cache as the ordinary build; clang's entries are its own.
export CCACHE_DIR="${CCACHE_DIR:-/var/cache/qorcad-ccache}"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
mkdir -p "$CCACHE_DIR"

# The program's own tests and benchmarks stay with the ordinary build.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DQOR_BUILD_FUZZ=ON -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCH=OFF \
  -DQOR_FUZZ_RUNS="${QOR_FUZZ_RUNS:-2000}" >/dev/null
cmake --build "$build" -j"${QOR_JOBS:-$(nproc)}"

ctest --test-dir "$build/fuzz" --output-on-failure
