#pragma once

// Moved to the tests' support room; kept for the readers' tests that include it by this name.
#include "tests/support/journal_fixture.h"
