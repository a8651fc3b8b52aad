#!/usr/bin/env bash
# Builds the renderer and renders the showcase scene to image.tga (and the
# ray report report.ma) in the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vortan_need_packages cmake g++ make libgoogle-glog-dev libpng-dev libopenexr-dev \
    libjpeg62-turbo-dev libtiff-dev zlib1g-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_TESTS=OFF -DVORTAN_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target vortan rendering
./build/vortan scenes/showcase.ass
echo
echo "Wrote image.tga"
