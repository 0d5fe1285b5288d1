#!/usr/bin/env bash
# Applies .clang-format to every tracked C++ source.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files -- '*.cpp' '*.h' | xargs clang-format -i
