#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: `quenza demo` writes synthetic
# data with every writer into build/demo, reads it back and prints what it found.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh
"${BUILD_DIR:-build}/bin/quenza" formats
"${BUILD_DIR:-build}/bin/quenza" demo "${BUILD_DIR:-build}/demo"
