#!/usr/bin/env bash
# Makes seeds for a fuzz target at fuzz time from data outside the project
# (the reference vectors beside it), so that no copy of them is kept here.
# Usage: fuzz/seeds.sh TARGET_NAME CORPUS_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
corpus=$2
shared=${ZEPHRIN_SHARED_DIR:-$root/../shared}
vectors=$shared/vectors/uefi-compression
shopt -s nullglob

# The restore engine's seeds are captured platforms: the sample and the shared
# dumps, captured by the driver image of the normal build (when there is one).
if [ "$name" = restore_engine ]; then
  demo=$root/build/tools/zephrin-demo/zephrin-demo
  [ -x "$demo" ] || exit 0
  "$demo" --certified 0 --log /dev/null --restore-seed "$corpus/captured_sample" >/dev/null 2>&1 || true
  for dump in "$shared"/acpi-dumps/*.acpidump; do
    base=$(basename "$dump" .acpidump)
    meta=$root/tests/fixtures/dumps/$base.meta
    [ -f "$meta" ] || continue
    "$demo" --acpidump "$dump" --meta "$meta" --certified 0 --log /dev/null \
      --restore-seed "$corpus/captured_$base" >/dev/null 2>&1 || true
  done
  exit 0
fi

# The real machines' dumps as they are, for the acpidump text reader.
if [ "$name" = acpi_dump ]; then
  for dump in "$shared"/acpi-dumps/*.acpidump; do cat "$dump" >"$corpus/$(basename "$dump")"; done
  exit 0
fi

# Every DSDT and SSDT of the real machines' dumps, each behind eight parameter
# bytes: a DWord locator at the first body byte, Type 2 mode 2, size 3, offset 0.
if [ "$name" = aml ] && [ -d "$shared/acpi-dumps" ] && command -v acpixtract >/dev/null; then
  tables=$(mktemp -d)
  for dump in "$shared"/acpi-dumps/*.acpidump; do
    machine=$(basename "$dump" .acpidump)
    mkdir -p "$tables/$machine"
    (cd "$tables/$machine" && acpixtract -a "$dump" >/dev/null 2>&1) || continue
    for table in "$tables/$machine"/dsdt.dat "$tables/$machine"/ssdt*.dat; do
      { printf '\x24\x00\x0c\x25\x00\x02\x03\x00'; cat "$table"; } \
        >"$corpus/dump_${machine}_$(basename "$table" .dat)"
    done
  done
  rm -rf "$tables"
fi
[ -d "$vectors" ] || exit 0

case "$name" in
  decompress)
    # Three bytes of output cap (1 MiB) before each stream: valid, lenient and bad.
    for stream in "$vectors"/streams/*.efi11 "$vectors"/decode_only/*.efi11 \
                  "$vectors"/lenient/*.efi11 "$vectors"/bad/*.efi11; do
      size=$(stat -c %s "$stream")
      [ "$size" -le 100000 ] || continue
      out="$corpus/vector_$(basename "$(dirname "$stream")")_$(basename "$stream" .efi11)"
      { printf '\x00\x00\x10'; cat "$stream"; } >"$out"
    done
    ;;
  compress_roundtrip)
    for input in "$vectors"/inputs/*.bin; do
      size=$(stat -c %s "$input")
      [ "$size" -le 65536 ] || continue
      cp "$input" "$corpus/vector_$(basename "$input" .bin)"
    done
    ;;
esac
