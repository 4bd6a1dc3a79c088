#!/usr/bin/env bash
# Builds everything (firmware images, host libraries, tools) and runs the demo:
# the driver image booted on the simulated sample platform.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build
./build/tools/zephrin-demo/zephrin-demo "$@"
