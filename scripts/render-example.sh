#!/usr/bin/env bash
# Builds the renderer and renders the bundled example scene to image.tga in
# the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vortan_need_packages cmake g++ make libgoogle-glog-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target vortan rendering
echo "Built build/vortan and build/librendering.so."
echo "Rendering the example scene is not available yet: the render path is still being built."
