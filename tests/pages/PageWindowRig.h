#pragma once

#include "WindowRig.h"

// The page tests drive the same window as the flow tests.
using PageWindowRig = WindowRig;
