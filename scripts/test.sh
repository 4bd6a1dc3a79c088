#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests on the
# normal build (firmware images included), the same tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target for a
# bounded time. FUZZ_SECONDS sets the time per target (default 20).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "== build (firmware images + host) =="
bash scripts/build.sh build
echo "== tests =="
ctest --test-dir build --output-on-failure -j"$(nproc)" | tee "$logs/normal.log"

echo "== build (ASan+UBSan, fuzz targets) =="
bash scripts/build.sh build-san -DZEPHRIN_FUZZ=ON -DZEPHRIN_FIRMWARE=OFF -DZEPHRIN_BENCH=OFF
echo "== tests under sanitizers =="
# The sanitizer build makes no firmware images: its emulated TE-image runs use
# the image of the normal build.
export ZEPHRIN_PEI_TE_IMAGE="$root/build/firmware/TglZephrinFeatureControlPei.te"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-san --output-on-failure -j"$(nproc)" | tee "$logs/san.log"

echo "== fuzzing =="
bash scripts/fuzz.sh build-san "${FUZZ_SECONDS:-20}"

# One closing line for both test runs: "N passed, N failed".
summary() { grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$1" | tail -1 | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/'; }
read -r failed_n total_n < <(summary "$logs/normal.log")
read -r failed_s total_s < <(summary "$logs/san.log")
echo "tests: $((total_n + total_s - failed_n - failed_s)) passed, $((failed_n + failed_s)) failed"
