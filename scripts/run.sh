#!/usr/bin/env bash
# Sets up, builds and starts the viewer from the build folder (model, motion and toon ramps beside it).
# Arguments go on to the viewer, relative paths from where this was called:
#   bash scripts/run.sh model.pmx dance.vmd --audio song.ogg
set -euo pipefail
CALLER_DIR=$PWD
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$PWD/$BUILD_DIR" ;; esac
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" >&2
cd "$CALLER_DIR"
exec "$BUILD_DIR/bin/quenlor" "$@"
