#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, starting from
# its seed corpus (fuzz/corpus/<target>/, plus seeds made by fuzz/seeds.sh).
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
status=0
for target in "$build"/fuzz/*_fuzzer; do
  name=$(basename "$target" _fuzzer)
  corpus="$work/$name"
  mkdir -p "$corpus"
  [ -d "$root/fuzz/corpus/$name" ] && cp -r "$root/fuzz/corpus/$name/." "$corpus/"
  [ -x "$root/fuzz/seeds.sh" ] && "$root/fuzz/seeds.sh" "$name" "$corpus" || true
  dict=()
  [ -f "$root/fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
  echo "-- $name (${seconds}s)"
  # A fixed seed keeps CI runs repeatable; FUZZ_SEED changes it for longer hunts.
  if ! "$target" "${dict[@]}" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$corpus" >"$work/$name.log" 2>&1; then
    tail -50 "$work/$name.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb|cov:" "$work/$name.log" | tail -3 || true
done
exit $status
