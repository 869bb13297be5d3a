#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite offscreen.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/tools/setup.sh"
build_dir=${TESSIVO_BUILD_DIR:-"$here/build"}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j 2
