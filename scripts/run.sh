#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on simulated meters: a demo folder with a
# copy of the program, a Sys.ini that lists three meters (one active meter on COM1, two query
# meters on COM2) and tools/meter-sim playing them. The simulator stops when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what this script starts: the tests and benchmarks are for scripts/test.sh.
cmake --build "$BUILD" -j"${JOBS:-2}" --target zervo-daq meter-sim

DEMO=${DEMO_DIR:-$PWD/demo}
mkdir -p "$DEMO"
cp "$BUILD/bin/zervo-daq" "$DEMO/"
# The help pages travel with the portable copy.
mkdir -p "$DEMO/help" && cp "$BUILD"/bin/help/* "$DEMO/help/"
[[ -f "$DEMO/Sys.ini" ]] || python3 scripts/demo-setup.py "$DEMO/Sys.ini"

SIMOUT="$DEMO/meter-sim.out"
"$BUILD/bin/meter-sim" \
  --port COM1 --meter active,addr=12,interval=250,gen=sine:40:20000:50,decimals=1 \
  --port COM2 --meter query,addr=1,delay=15,gen=sine:20:30000:25,decimals=2 \
              --meter query,addr=3,delay=15,gen=ramp:0:0.05,decimals=2 \
  --sys-ini "$DEMO/Sys.ini" > "$SIMOUT" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null' EXIT
# Wait until the simulator has mapped its ports into Sys.ini.
for _ in $(seq 100); do
  grep -q '^READY' "$SIMOUT" 2>/dev/null && break
  kill -0 $SIM 2>/dev/null || { cat "$SIMOUT"; exit 1; }
  sleep 0.1
done
cat "$SIMOUT"

"$DEMO/zervo-daq" "$@"
