#!/usr/bin/env bash
# Prints the share of test code: non-blank, non-comment C++ lines under tests/
# against those of the whole tree (tracked files only, build folders left out).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

count() {
    # Drops blank lines, // comment lines and the inside of /* */ blocks.
    xargs -r cat | awk '
        /^[[:space:]]*$/ { next }
        inblock { if ($0 ~ /\*\//) inblock = 0; next }
        /^[[:space:]]*\/\*/ { if ($0 !~ /\*\//) inblock = 1; next }
        /^[[:space:]]*\/\// { next }
        { n++ }
        END { print n + 0 }'
}

all=$(git ls-files -- '*.cpp' '*.h' '*.hpp' | count)
tests=$(git ls-files -- 'tests/*.cpp' 'tests/*.h' 'tests/*.hpp' | count)
echo "Tests: ${tests} of ${all} C++ lines ($(( 1000 * tests / all / 10 )).$(( 1000 * tests / all % 10 )) %)"
