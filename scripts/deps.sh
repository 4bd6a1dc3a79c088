#!/usr/bin/env bash
# Installs the Debian packages the build, tests, fuzzers and tools need, when
# any is missing. Safe to run again: it does nothing when all are present.
set -euo pipefail

PACKAGES=(cmake ninja-build clang lld libclang-rt-14-dev llvm
          libgtest-dev libgmock-dev libbenchmark-dev
          acpica-tools uefitool-cli python3 ccache
          pkg-config liblzma-dev ovmf qemu-system-x86 libunicorn-dev dosfstools mtools)

missing=()
for pkg in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
