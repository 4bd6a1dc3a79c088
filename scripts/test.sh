#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests on the
# normal build (firmware images included), the driver image on QEMU + OVMF
# (scripts/qemu-e2e.sh, each of its checks counted as a test), the same tests
# again under AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz
# target for a bounded time. FUZZ_SECONDS sets the time per target (default 20).
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

echo "== the driver on QEMU + OVMF =="
qemu_status=0
bash scripts/qemu-e2e.sh | tee "$logs/qemu.log" || qemu_status=1

echo "== build (ASan+UBSan, fuzz targets) =="
bash scripts/build.sh build-san -DZEPHRIN_FUZZ=ON -DZEPHRIN_FIRMWARE=OFF -DZEPHRIN_BENCH=OFF
echo "== tests under sanitizers =="
# The sanitizer build makes no firmware images: its emulated TE-image runs use
# the image of the normal build.
export ZEPHRIN_PEI_TE_IMAGE="$root/build/firmware/TglZephrinFeatureControlPei.te"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-san --output-on-failure -j"$(nproc)" | tee "$logs/san.log"

echo "== fuzzing =="
bash scripts/fuzz.sh build-san "${FUZZ_SECONDS:-20}"

# One closing line for both test runs and the QEMU checks: "N passed, N failed".
summary() { grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$1" | tail -1 | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/'; }
read -r failed_n total_n < <(summary "$logs/normal.log")
read -r failed_s total_s < <(summary "$logs/san.log")
read -r passed_q failed_q < <(sed -nE 's/^qemu e2e: ([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' "$logs/qemu.log" | tail -1) || true
passed_q=${passed_q:-0}
failed_q=${failed_q:-1}  # no closing line: the run itself failed
echo "tests: $((total_n + total_s - failed_n - failed_s + passed_q)) passed, $((failed_n + failed_s + failed_q)) failed"
[ $qemu_status -eq 0 ]
