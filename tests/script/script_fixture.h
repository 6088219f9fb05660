// The script test fixture, shared by every test program, lives with the shared fixtures.
#pragma once

#include "tests/support/script_fixture.h"
