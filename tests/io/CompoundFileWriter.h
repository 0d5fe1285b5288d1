#pragma once

// The old name of the compound-file builder, for tests outside this folder that
// still include it from here.

#include "tests/fixtures/Bytes.h"
#include "tests/fixtures/CompoundFileBuilder.h"

namespace qor::test {
using CompoundFileWriter = CompoundFileBuilder;
}
