#!/usr/bin/env bash
# The installation: `cmake --install` of a build tree into a temporary DESTDIR, then
#   - the programs, the client library, kxapi.pc and exactly the library's public headers;
#   - a small client program compiled and linked with pkg-config's flags alone, run against the
#     installed KxapiServiceSim (and the installed kxctl and Python package against the same);
#   - the man pages render without a warning;
#   - the systemd unit parses (systemd-analyze verify) and its PIDFile= is the path its
#     ExecStart= hands the daemon.
#
#   InstallLayoutTest.sh BUILD_DIR SOURCE_DIR PYTHON_EXECUTABLE|""
set -uo pipefail

build=$1
source=$2
python=${3:-}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d /tmp/kxinst-XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

dest=$work/root
if ! DESTDIR=$dest cmake --install "$build" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install"
  exit 1
fi

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
root=$dest$prefix
# GNUInstallDirs' choices for this prefix, as the installation recorded them.
pcfile=$(grep '/pkgconfig/kxapi\.pc$' "$build/install_manifest.txt" | head -1)
libdir=$(dirname "$(dirname "$pcfile")")
libdir=$dest$libdir

# Programs.
for program in sbin/KxapiService bin/KxapiServiceSim bin/kxctl; do
  if [ -x "$root/$program" ] && [ -f "$root/$program" ]; then pass "$program"; else fail "$program is not installed"; fi
done
[ -f "$libdir/libkxapi.a" ] && pass "libkxapi.a" || fail "libkxapi.a is not in $libdir"
[ -f "$libdir/pkgconfig/kxapi.pc" ] && pass "kxapi.pc" || fail "kxapi.pc is not in $libdir/pkgconfig"

# Headers: every public one, no private one, nothing else.
lib_src=$source/Libraries/KXAPI/Source
public=$(cd "$lib_src" && for dir in common platform transport device device/proxy demod protocol client xml; do
           ls "$dir"/*.h "$dir"/*.inc 2>/dev/null; done | xargs -n1 basename | sort)
private=$(cd "$lib_src" && ls platform/linux/*.h device/private/*.h | xargs -n1 basename | sort)
installed=$(ls "$root/include/kxapi" 2>/dev/null | sort)
if [ "$installed" = "$public" ]; then
  pass "include/kxapi holds the $(echo "$public" | wc -l) public headers"
else
  fail "include/kxapi differs from the public headers: $(diff <(echo "$public") <(echo "$installed") | grep '^[<>]' | tr '\n' ' ')"
fi
for header in $private; do
  [ -e "$root/include/kxapi/$header" ] && fail "private header $header is installed"
done

# A private simulator from the installation, for the programs below.
fifo_dir=$work/fifo
mkdir -p "$fifo_dir"
"$root/bin/KxapiServiceSim" --no-daemon --fifo-dir "$fifo_dir" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -p "$fifo_dir/KxGlobalRecvPipe" ] && break; sleep 0.05; done
version_line=$("$root/bin/kxctl" --fifo-dir "$fifo_dir" version 2>&1)
if [[ "$version_line" == "KxapiService "* ]]; then pass "installed kxctl: $version_line"; else fail "installed kxctl version: $version_line"; fi

# pkg-config: compile and link a client with its flags alone, then ask the service.
cat >"$work/probe.cpp" <<'PROBE'
#include <cstdio>
#include "CrossPlatform.h"
#include "DemodPortClient.h"
#include "KxGlobalSvcClient.h"
int main(int argc, char** argv)
{
    if (argc < 2 || Xp::SetIpcDirectory(argv[1]) != KXAPI_OK)
        return 2;
    KxGlobalSvcClient client;
    KxServiceVersion version;
    KXAPI_RESULT result = client.GetServiceVersion(version);
    if (result != KXAPI_OK) {
        printf("%s\n", KxapiResult2Str(result));
        return 1;
    }
    printf("KxapiService %u.%u.%u Build %u\n", version.m_Major, version.m_Minor, version.m_Revision, version.m_Build);
    Kxapi::DemodPortClient port; // the demod client's headers and code link too
    return port.IsOpen() ? 1 : 0;
}
PROBE
export PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$dest
if flags=$(pkg-config --cflags --libs kxapi 2>&1) &&
   ${CXX:-c++} -std=c++20 "$work/probe.cpp" -o "$work/probe" $flags >"$work/probe.log" 2>&1; then
  probe_line=$("$work/probe" "$fifo_dir" 2>&1)
  if [ "$probe_line" = "$version_line" ]; then pass "client built with pkg-config: $probe_line"
  else fail "client built with pkg-config printed '$probe_line', kxctl '$version_line'"; fi
else
  fail "client does not build with pkg-config flags '$flags': $(head -20 "$work/probe.log")"
fi

# The Python package, imported from the installation only.
if [ -n "$python" ]; then
  package=$(grep '/kxapi/__init__\.py$' "$build/install_manifest.txt" | head -1)
  if [ -z "$package" ]; then
    fail "the Python package is not installed"
  else
    py_line=$(cd "$work" && PYTHONPATH=$dest$(dirname "$(dirname "$package")") "$python" -c "
import kxapi, sys
assert kxapi.__file__.startswith('$dest'), kxapi.__file__
kxapi.set_fifo_dir(sys.argv[1])
print('KxapiService %d.%d.%d Build %d' % kxapi.service_version())" "$fifo_dir" 2>&1)
    if [ "$py_line" = "$version_line" ]; then pass "installed Python package: $py_line"
    else fail "installed Python package: $py_line"; fi
  fi
fi

# Man pages: installed compressed, and they render without a warning.
for page in man1/kxctl.1 man8/KxapiService.8 man8/KxapiServiceSim.8; do
  file=$root/share/man/$page.gz
  if [ ! -f "$file" ]; then fail "$page.gz is not installed"; continue; fi
  if command -v groff >/dev/null; then
    warnings=$(zcat "$file" | groff -man -Tutf8 -ww -z 2>&1)
    text=$(zcat "$file" | groff -man -Tutf8 2>/dev/null | col -b 2>/dev/null || true)
    if [ -n "$warnings" ]; then fail "$page: $warnings"
    elif ! grep -q "^NAME" <<<"$text" || ! grep -q "^SYNOPSIS" <<<"$text"; then fail "$page renders without NAME or SYNOPSIS"
    else pass "$page renders"; fi
  else
    pass "$page installed (groff missing: not rendered)"
  fi
done

# The systemd unit.
unit=$(grep '/kxapiservice\.service$' "$build/install_manifest.txt" | head -1)
unit=$dest$unit
if [ ! -f "$unit" ]; then
  fail "kxapiservice.service is not installed"
else
  key() { sed -n "s/^$1=//p" "$unit"; }
  exec_start=$(key ExecStart)
  [ "$(key Type)" = forking ] || fail "Type= is '$(key Type)', the daemon forks"
  [ "$(key Restart)" = on-failure ] || fail "Restart= is '$(key Restart)'"
  [[ " $(key After) " == *" local-fs.target "* ]] || fail "After= lacks local-fs.target"
  [ "${exec_start%% *}" = "$prefix/sbin/KxapiService" ] || fail "ExecStart= runs '${exec_start%% *}', not $prefix/sbin/KxapiService"
  [ -n "$(key PIDFile)" ] && [ "$(key PIDFile)" = "${exec_start#* }" ] ||
    fail "PIDFile= '$(key PIDFile)' is not the daemon's PID-file argument '${exec_start#* }'"
  if command -v systemd-analyze >/dev/null; then
    # Verified with the program's path inside DESTDIR, where it exists.
    sed "s|^ExecStart=$prefix|ExecStart=$root|" "$unit" >"$work/kxapiservice.service"
    problems=$(systemd-analyze verify --man=no "$work/kxapiservice.service" 2>&1)
    [ -z "$problems" ] && pass "systemd-analyze verify" || fail "systemd-analyze verify: $problems"
  fi
fi

kill "$sim_pid" 2>/dev/null
wait "$sim_pid"
status=$?
sim_pid=""
[ "$status" -eq 0 ] || fail "the installed KxapiServiceSim ended with status $status: $(cat "$work/sim.log")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installation layout: all checks passed"
