#!/usr/bin/env bash
# Installs what is missing, builds, and starts the service on the embedded default scenario
# of virtual cards (KxapiServiceSim, same start-up and managers as KxapiService) as a daemon
# with a PID file; then talks to it with kxctl.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build KxapiService KxapiServiceSim kxctl

pidfile=/tmp/KxapiServiceSim.pid
if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
  echo "KxapiServiceSim already runs (pid $(cat "$pidfile"))"
else
  build/sim/KxapiServiceSim "$pidfile"
  for _ in $(seq 50); do [ -s "$pidfile" ] && [ -p /tmp/KxGlobalRecvPipe ] && break; sleep 0.1; done
  echo "KxapiServiceSim started as a daemon (pid $(cat "$pidfile")) with the default virtual cards"
fi

echo; echo "\$ kxctl version"; build/tools/kxctl version
echo; echo "\$ kxctl sim list"; build/tools/kxctl sim list
echo; echo "\$ kxctl demod list"; build/tools/kxctl demod list || true
echo; echo "\$ kxctl demod wait 3460000001 0"; build/tools/kxctl demod wait 3460000001 0 --timeout 10000 || true
echo; echo "\$ kxctl demod tune 3460000001 0 474M 15 0 0 0"
build/tools/kxctl demod tune 3460000001 0 474M 15 0 0 0 || true
echo; echo "\$ kxctl net list"; build/tools/kxctl net list || true
echo
echo "More: build/tools/kxctl --help"
echo "Stop it with:  kill \$(cat $pidfile)"
