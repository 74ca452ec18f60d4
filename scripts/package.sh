#!/usr/bin/env bash
# Builds the Debian package kxapiservice_<version>_<arch>.deb in build-deb/packages/: a
# RelWithDebInfo build installed below the prefix /usr (the layout Debian's packages use:
# multiarch library directory, /usr/lib/python3/dist-packages), packed by CPack.
#
#   scripts/package.sh            build and pack
#   dpkg-deb -c build-deb/packages/kxapiservice_*.deb    list its files
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
ninja -C build-deb
(cd build-deb && cpack -G DEB)
ls -l build-deb/packages/*.deb
