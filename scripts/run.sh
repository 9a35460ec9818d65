#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program from its own folder (build/bin), where
# it keeps Sys.ini and its TestData folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"${JOBS:-2}"
exec ./build/bin/zervo-daq "$@"
