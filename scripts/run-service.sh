#!/usr/bin/env bash
# Installs what is missing, builds, and starts KxapiService as a daemon with a PID file,
# then asks it for its version through the global FIFO with kxctl.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build KxapiService KxapiServiceSim kxctl

pidfile=/tmp/KxapiService.pid
if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
  echo "KxapiService already runs (pid $(cat "$pidfile"))"
else
  build/service/KxapiService "$pidfile"
  for _ in $(seq 50); do [ -s "$pidfile" ] && [ -p /tmp/KxGlobalRecvPipe ] && break; sleep 0.1; done
  echo "KxapiService started as a daemon (pid $(cat "$pidfile"))"
fi

build/tools/kxctl version
echo
echo "Stop it with:  kill \$(cat $pidfile)"
