#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need. Safe to run twice.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  zlib1g-dev libdeflate-dev libbz2-dev libgtest-dev libgmock-dev libarchive-dev libunarr-dev
  qt6-base-dev libgl-dev qt6-translations-l10n
  zip unzip 7zip libarchive-tools gzip bzip2 lbzip2 ncompress pigz libdeflate-tools
  arj arc nomarch jlha-utils lhasa unar unace gcab cabextract sharutils uudeview tar
  libmspack-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "deps.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
