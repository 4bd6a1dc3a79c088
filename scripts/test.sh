#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests on the
# normal build (firmware image included), the same tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target for a
# bounded time. FUZZ_SECONDS sets the time per target (default 20).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

echo "== build (firmware images + host) =="
bash scripts/build.sh build
echo "== tests =="
ctest --test-dir build --output-on-failure -j"$(nproc)"

echo "== build (ASan+UBSan, fuzz targets) =="
bash scripts/build.sh build-san -DZEPHRIN_FUZZ=ON -DZEPHRIN_FIRMWARE=OFF -DZEPHRIN_BENCH=OFF
echo "== tests under sanitizers =="
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-san --output-on-failure -j"$(nproc)"

echo "== fuzzing =="
bash scripts/fuzz.sh build-san "${FUZZ_SECONDS:-20}"
