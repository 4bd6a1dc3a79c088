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
[ -d "$vectors" ] || exit 0
shopt -s nullglob

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
