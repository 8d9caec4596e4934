#!/usr/bin/env bash
# The one-command demo: installs what is missing (as root; otherwise prints
# the apt-get line and stops), builds everything and renders the built-in demo
# through the Reverb plug-in to out/demo-reverb.wav.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
build/bin/quor demo
