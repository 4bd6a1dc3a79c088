#!/usr/bin/env bash
# Builds everything (firmware images, host libraries, tools) and runs the demo:
# the driver image booted on the simulated sample platform, or with --qemu on
# QEMU + OVMF (the boots of scripts/qemu-e2e.sh, summarised per boot).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build
if [ "${1:-}" = --qemu ]; then
  shift
  exec bash scripts/qemu-e2e.sh --summary "$@"
fi
./build/tools/zephrin-demo/zephrin-demo "$@"
