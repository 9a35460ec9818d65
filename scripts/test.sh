#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in a normal build, then the Debian
# package built from it, unpacked and started, and once with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

JOBS=${JOBS:-2}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

# The .deb from this build: its contents and dependencies, and the unpacked program started once.
./scripts/package-test.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZERVO_SANITIZE=ON
cmake --build build-asan -j"$JOBS"
ctest --test-dir build-asan --output-on-failure -j"$JOBS"

# A short libFuzzer run of the frame, .zvdat and Sys.ini parsers (scripts/fuzz.sh 600 for a long one).
./scripts/fuzz.sh 15
