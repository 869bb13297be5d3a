#pragma once

#include "tests/flows/WindowRig.h"

// The page tests drive the same window as the flow tests.
using PageWindowRig = WindowRig;
