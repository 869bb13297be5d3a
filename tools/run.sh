#!/usr/bin/env bash
# Sets everything up, then runs the console (on the built-in ZK128 simulator
# when no D2XX library and device are present).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/tools/setup.sh"
build_dir=${TESSIVO_BUILD_DIR:-"$here/build"}
cd "$build_dir/app"
exec ./tessivo128 "$@"
