#!/usr/bin/env bash
# Installs the Debian packages Quor builds and tests with, when missing.
# As root it installs them; otherwise it prints the apt-get line and fails.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++ clang libclang-rt-dev
  googletest libgtest-dev libbenchmark-dev
  libsndfile1-dev libebur128-dev libcli11-dev nlohmann-json3-dev
  lv2-dev liblilv-dev lilv-utils sordi
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

if [ "$(id -u)" -ne 0 ]; then
  echo "Quor needs these Debian packages. Install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
