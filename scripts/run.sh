#!/usr/bin/env bash
# Sets up, builds and starts the viewer from the build folder (model, motion and toon ramps beside it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
if [ -x "$BUILD_DIR/bin/quenlor" ]; then
  exec "$BUILD_DIR/bin/quenlor"
else
  echo "Built. The viewer itself comes with a later change; run scripts/test.sh for the tests."
fi
