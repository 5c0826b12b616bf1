#!/usr/bin/env bash
# Installs, from Debian's archive only, everything the build, the tests, the
# fuzz targets, the benchmarks and the package checks need. Safe to run again:
# when every package is present it changes nothing and makes no network access.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev fonts-dejavu-core
  zstd
  libxxhash-dev libzstd-dev nlohmann-json3-dev parallel
  pybind11-dev python3-dev python3-numpy python3-pytest
  desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl libxml2-utils
  lintian dpkg-dev man-db file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
