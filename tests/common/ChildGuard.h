#pragma once

namespace qor::test {

// How long a test waits for a program it started before it counts it as hung: no shorter
// than CTest's own time-out for the test (scripts/test.sh, 900 s), since on a busy machine a
// child may take as long as the whole test may. A test bounds the child's work by its
// processor time, never by this wait.
constexpr int childGuardMs = 900 * 1000;

} // namespace qor::test
