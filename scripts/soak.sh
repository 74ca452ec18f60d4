#!/usr/bin/env bash
# Soak run: KxapiServiceSim on its default scenario in a private FIFO directory, 64 client
# processes (build/tools/kxsoak) doing random operations on every FIFO (demod attach, tune,
# statistics, event registrations, blind and spectrum scans, global version, network-device
# list and events), clients killed with SIGKILL at random points, and virtual-card unplug/plug
# and power events through `kxctl sim` meanwhile. Fails when a client saw a malformed or
# missing reply, a client hung, the service died, or the service's resources did not come
# back to their baseline after the run:
#   descriptors (/proc/PID/fd), threads (/proc/PID/task), FIFO files in the FIFO directory,
#   key files, System V shared-memory segments and semaphores of the service's key files:
#   exactly the baseline; resident memory (VmRSS): at most the baseline + RSS_TOLERANCE_KB.
# FIFO files that a killed client had made for itself (its event FIFO, whose name carries its
# process id) stay behind when nobody removes them; they are counted and listed apart
# ("left by killed clients"). Any other FIFO file beyond the baseline fails the run.
# The baseline is taken after a warm-up round (every kind of operation once, the hot-plug card
# plugged), the final counts after the last client ended, the cards were restored and the
# service was left alone for up to SETTLE_SECONDS.
#
#   scripts/soak.sh [SECONDS]     main phase length, default 180 (CI); e.g. scripts/soak.sh 600
#
# Environment: KX_SOAK_BUILD_DIR (default build), KX_SOAK_CLIENTS (64),
# KX_SOAK_SETTLE_SECONDS (30), KX_SOAK_RSS_TOLERANCE_KB (4096), KX_SOAK_KEEP=1 keeps the
# work directory (client outputs, service log) also when the run passed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-180}"
build_dir="${KX_SOAK_BUILD_DIR:-build}"
clients="${KX_SOAK_CLIENTS:-64}"
settle_seconds="${KX_SOAK_SETTLE_SECONDS:-30}"
rss_tolerance_kb="${KX_SOAK_RSS_TOLERANCE_KB:-4096}"
# A client that has not ended this long after the main phase counts as hung.
client_grace_seconds=90

sim="$build_dir/sim/KxapiServiceSim"
kxctl="$build_dir/tools/kxctl"
kxsoak="$build_dir/tools/kxsoak"
if [ ! -x "$sim" ] || [ ! -x "$kxctl" ] || [ ! -x "$kxsoak" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
  ninja -C "$build_dir" KxapiServiceSim kxctl kxsoak || exit 1
fi

work="$(mktemp -d /tmp/kxsoak.XXXXXX)"
fifo_dir="$work/fifo/"
mkdir -p "$fifo_dir" "$work/clients" "$work/running"
: >"$work/killed" >"$work/events"

# The receiver the default scenario brings up, and a second one plugged and unplugged during
# the run (same model, its own serial).
SERIAL_FIXED=3460000001
SERIAL_HOT=3460990001
HOT_CARD='{"model": 3460, "subType": 0, "serial": '$SERIAL_HOT', "firmware": 5, "firmwareStatus": "ok",
 "properties": [{"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 870},
  {"name": "MOD_FREQ_ABSMIN", "value": 42}, {"name": "MOD_FREQ_ABSMAX", "value": 870}],
 "tables": [], "vpd": [{"keyword": "EC", "text": "A1"}], "i2c": [],
 "inputs": [[{"freqHz": 474000000, "standard": "DVB-T", "constellation": 64, "bandwidthHz": 7610000,
   "levelDbm": -50.0, "cnDb": 26.0}]]}'
# Clients also ask for serials that are not there (and for models without a receiver layer).
SERIALS="$SERIAL_FIXED $SERIAL_FIXED $SERIAL_HOT 3490000001 999000001"

ctl() { "$kxctl" --fifo-dir "$fifo_dir" "$@"; }

fail() {
  echo "soak: FAILED: $*" >&2
  failed=1
}

failed=0
service_pid=""
helper_pids=()

cleanup() {
  for pid in "${helper_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in $(jobs -p); do
    [ "$pid" = "$service_pid" ] || kill -KILL "$pid" 2>/dev/null
  done
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then
    kill -TERM "$service_pid" 2>/dev/null
    wait "$service_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

# ---- resources ------------------------------------------------------------------------------

# System V objects whose key was made with ftok from a key file of the FIFO directory: the
# key's low 24 bits are the file's device (low 8 bits) and inode (low 16 bits).
count_ipc() { # $1: -m or -s
  local prefixes=() file
  while IFS= read -r file; do
    local dev ino
    read -r dev ino < <(stat -c '%d %i' "$file")
    prefixes+=("$(( ((dev & 0xff) << 16) | (ino & 0xffff) ))")
  done < <(find "$fifo_dir" -maxdepth 1 -type f)
  local count=0 key
  while read -r key; do
    [[ "$key" == 0x* ]] || continue
    local low=$(( key & 0xffffff ))
    for p in "${prefixes[@]}"; do
      if [ "$low" -eq "$p" ]; then count=$((count + 1)); break; fi
    done
  done < <(ipcs "$1" 2>/dev/null | awk '{print $1}')
  echo "$count"
}

# True when one of the "_"-separated numbers of FIFO name $1 is the id of a killed client.
left_by_killed_client() {
  local field
  for field in ${1//_/ }; do
    [[ "$field" =~ ^[0-9]+$ ]] && grep -qx "$field" "$work/killed" && return 0
  done
  return 1
}

# FIFO files of the directory: "others orphans", where orphans were left by killed clients.
# The names of the others go to $work/fifos.
count_fifos() {
  local others=0 orphans=0 name
  : >"$work/fifos"
  while IFS= read -r name; do
    if left_by_killed_client "$name"; then
      orphans=$((orphans + 1))
    else
      others=$((others + 1))
      echo "$name" >>"$work/fifos"
    fi
  done < <(find "$fifo_dir" -maxdepth 1 -type p -printf '%f\n')
  echo "$others $orphans"
}

# What the descriptors point to and the threads' names, into $1 (for a failed comparison).
snapshot() {
  { echo "# descriptors"; for fd in /proc/"$service_pid"/fd/*; do readlink "$fd"; done | sed -E 's/[0-9]+/N/g' | sort | uniq -c
    echo "# threads"; cat /proc/"$service_pid"/task/*/comm 2>/dev/null | sort | uniq -c; } >"$1"
}

# "fds threads rss_kb fifos keyfiles shm sem orphan_fifos"
measure() {
  local fds threads rss files
  fds=$(ls "/proc/$service_pid/fd" 2>/dev/null | wc -l)
  threads=$(ls "/proc/$service_pid/task" 2>/dev/null | wc -l)
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$service_pid/status" 2>/dev/null)
  files=$(find "$fifo_dir" -maxdepth 1 -type f | wc -l)
  local -a fifos=($(count_fifos))
  echo "$fds $threads ${rss:-0} ${fifos[0]} $files $(count_ipc -m) $(count_ipc -s) ${fifos[1]}"
}

# True when the counts in $1 are back to the baseline in $2.
at_baseline() {
  local -a now=($1) base=($2)
  for i in 0 1 3 4 5 6; do
    [ "${now[$i]}" -eq "${base[$i]}" ] || return 1
  done
  [ "${now[2]}" -le $(( base[2] + rss_tolerance_kb )) ]
}

# ---- clients and events ---------------------------------------------------------------------

next_client=0
declare -A running=()    # client number -> its wrapper's process id while it runs
# Each client runs under a wrapper that records the client's process id in running/ID while it
# runs and its exit status in ID.status when it ended (137 when killed with SIGKILL).
start_client() {
  local id=$next_client
  next_client=$((next_client + 1))
  (
    "$kxsoak" --fifo-dir "$fifo_dir" --seed "$((RANDOM * 32768 + RANDOM))" --ops "$((20 + RANDOM % 180))" \
      $SERIALS >"$work/clients/$id.out" 2>&1 &
    pid=$!
    echo "$pid" >"$work/running/$id"
    wait "$pid"
    status=$?
    rm -f "$work/running/$id"
    echo "$pid $status" >"$work/clients/$id.status.new" # complete before it is seen
    mv "$work/clients/$id.status.new" "$work/clients/$id.status"
  ) 2>/dev/null & # the wrapper's own notices ("Killed") are not the client's output
  running[$id]=$!
}

# Runs in the background: SIGKILLs one of the running clients now and then.
killer() {
  while sleep "0.$((RANDOM % 9 + 1))"; do
    local files=("$work"/running/*)
    [ -e "${files[0]}" ] || continue
    local pid
    pid=$(cat "${files[$((RANDOM % ${#files[@]}))]}" 2>/dev/null) || continue
    [ -n "$pid" ] || continue
    echo "$pid" >>"$work/killed"
    kill -KILL "$pid" 2>/dev/null
  done
}

# Runs in the background: unplug/plug of the hot-plug card, power events, carrier moves.
events() {
  local plugged=1
  while sleep "$((RANDOM % 3 + 1))"; do
    case $((RANDOM % 5)) in
    0 | 1)
      if [ $plugged -eq 1 ]; then ctl sim unplug "$SERIAL_HOT" >/dev/null 2>&1 && plugged=0
      else ctl sim plug "$HOT_CARD" >/dev/null 2>&1 && plugged=1; fi
      echo "plug $plugged" >>"$work/events" ;;
    2) ctl sim power "$SERIAL_FIXED" off >/dev/null 2>&1; ctl sim power "$SERIAL_FIXED" on >/dev/null 2>&1
      echo "power fixed" >>"$work/events" ;;
    3) [ $plugged -eq 1 ] && ctl sim power "$SERIAL_HOT" on >/dev/null 2>&1
      echo "power hot" >>"$work/events" ;;
    4) ctl sim carrier "$SERIAL_FIXED" 0 move 474000000 482000000 >/dev/null 2>&1 ||
         ctl sim carrier "$SERIAL_FIXED" 0 move 482000000 474000000 >/dev/null 2>&1
      echo "carrier" >>"$work/events" ;;
    esac
  done
}

# ---- run --------------------------------------------------------------------------------------

"$sim" --no-daemon --fifo-dir "$fifo_dir" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 100); do
  ctl version >/dev/null 2>&1 && break
  sleep 0.1
done
ctl version >/dev/null 2>&1 || { fail "the service does not answer"; exit 1; }
ctl demod wait "$SERIAL_FIXED" 0 --timeout 30000 >/dev/null || { fail "$SERIAL_FIXED never came up"; exit 1; }
ctl sim plug "$HOT_CARD" >/dev/null || { fail "cannot plug $SERIAL_HOT"; exit 1; }
ctl demod wait "$SERIAL_HOT" 0 --timeout 30000 >/dev/null || { fail "$SERIAL_HOT never came up"; exit 1; }

# Warm-up: every kind of operation once, so that what the service makes on first use and
# keeps (port worker threads, device controllers) is part of the baseline.
for seed in 1 2 3 4; do
  "$kxsoak" --fifo-dir "$fifo_dir" --seed "$seed" --ops 60 $SERIALS >"$work/clients/warmup-$seed.out" 2>&1 ||
    fail "warm-up client $seed: $(tail -n 3 "$work/clients/warmup-$seed.out")"
done
sleep 2
baseline="$(measure)"
snapshot "$work/baseline.txt"

echo "soak: $clients clients for $seconds s, service pid $service_pid, work directory $work"
killer &
helper_pids+=($!)
events &
helper_pids+=($!)

started=0 completed=0 killed=0 client_failures=0 ops=0 refused=0 hung=0 unreported=0
finish_client() { # $1 client number; its status file exists
  local id=$1 pid status
  read -r pid status <"$work/clients/$id.status"
  unset "running[$id]"
  local out="$work/clients/$id.out"
  if [ "$status" -eq 137 ] && grep -qx "$pid" "$work/killed"; then
    killed=$((killed + 1))
    rm -f "$out" "$work/clients/$id.status"
    return
  fi
  local line
  line=$(grep '^kxsoak: ops=' "$out" | tail -n 1)
  if [ "$status" -ne 0 ] || [ -z "$line" ]; then
    client_failures=$((client_failures + 1))
    fail "client $id (pid $pid) exit status $status: $(grep -v '^kxsoak: ops=' "$out" | head -n 5 | tr '\n' ' ')"
    return
  fi
  completed=$((completed + 1))
  local o r u
  o=$(sed -E 's/.*ops=([0-9]+).*/\1/' <<<"$line")
  r=$(sed -E 's/.*refused=([0-9]+).*/\1/' <<<"$line")
  u=$(sed -E 's/.*unreported-scans=([0-9]+).*/\1/' <<<"$line")
  ops=$((ops + o))
  refused=$((refused + r))
  unreported=$((unreported + u))
  rm -f "$out" "$work/clients/$id.status"
}

# Collects the clients that ended; false when the service is gone.
collect() {
  local id
  for id in "${!running[@]}"; do
    [ -e "$work/clients/$id.status" ] && finish_client "$id"
  done
  if [ ! -e "/proc/$service_pid" ] || [ "$(awk '{print $3}' "/proc/$service_pid/stat" 2>/dev/null)" = "Z" ]; then
    wait "$service_pid"
    fail "the service ended during the run (status $?): $(tail -n 5 "$work/service.log" | tr '\n' ' ')"
    service_pid=""
    return 1
  fi
  return 0
}

end=$((SECONDS + seconds))
while [ $SECONDS -lt $end ]; do
  while [ ${#running[@]} -lt "$clients" ]; do
    start_client
    started=$((started + 1))
  done
  sleep 0.1
  collect || break
done

for pid in "${helper_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
helper_pids=()

# The clients still running end by themselves (their operation count) or count as hung.
deadline=$((SECONDS + client_grace_seconds))
while [ ${#running[@]} -gt 0 ] && [ -n "$service_pid" ] && [ $SECONDS -lt $deadline ]; do
  sleep 0.2
  collect || break
done
for id in "${!running[@]}"; do
  pid=$(cat "$work/running/$id" 2>/dev/null)
  hung=$((hung + 1))
  fail "client $id (pid ${pid:-?}) still running ${client_grace_seconds} s after the run: $(tail -n 3 "$work/clients/$id.out" | tr '\n' ' ')"
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  wait "${running[$id]}" 2>/dev/null
done

final=""
if [ -n "$service_pid" ]; then
  # Back to the start: the hot-plug card plugged and up, the fixed card powered.
  ctl sim plug "$HOT_CARD" >/dev/null 2>&1
  ctl sim power "$SERIAL_FIXED" on >/dev/null 2>&1
  ctl demod wait "$SERIAL_FIXED" 0 --timeout 30000 >/dev/null || fail "$SERIAL_FIXED not up after the run"
  ctl demod wait "$SERIAL_HOT" 0 --timeout 30000 >/dev/null || fail "$SERIAL_HOT not up after the run"
  settle_end=$((SECONDS + settle_seconds))
  final="$(measure)"
  while ! at_baseline "$final" "$baseline" && [ $SECONDS -lt $settle_end ]; do
    sleep 1
    final="$(measure)"
  done
fi

events_done=$(wc -l <"$work/events")
echo "soak: clients started $started, completed $completed, killed $killed, failed $client_failures, hung $hung"
echo "soak: operations $ops ($refused refused by the service), card events $events_done," \
  "scans dropped unstarted by a newer command of another client (no final report) $unreported"
if [ -n "$final" ]; then
  read -r -a b <<<"$baseline"
  read -r -a f <<<"$final"
  names=(descriptors threads rss_kb fifo_files key_files shm_segments semaphores)
  [ "${f[7]}" -gt 0 ] && echo "soak: ${f[7]} FIFO files left by killed clients (not counted above):" \
    "$(find "$fifo_dir" -maxdepth 1 -type p -printf '%f\n' | while read -r n; do left_by_killed_client "$n" && echo "$n"; done | head -n 5 | tr '\n' ' ')..."
  printf 'soak: %-13s %10s %10s\n' resource baseline final
  for i in "${!names[@]}"; do
    printf 'soak: %-13s %10s %10s\n' "${names[$i]}" "${b[$i]}" "${f[$i]}"
  done
  echo "soak: rss tolerance ${rss_tolerance_kb} kB"
  if ! at_baseline "$final" "$baseline"; then
    snapshot "$work/final.txt"
    echo "soak: descriptors and threads, baseline and final:"
    diff "$work/baseline.txt" "$work/final.txt" | sed 's/^/soak:   /'
    held=$(grep -cE 'RecvPipe_N_N' "$work/final.txt")
    [ "$held" -gt 0 ] && echo "soak: the service still holds descriptors of private FIFOs of clients that are gone" \
      "(connections whose handler never ended); a client that writes its connection request and never opens" \
      "its client-to-service FIFO for writing (e.g. killed right after the request) leaves one handler" \
      "thread and two descriptors behind for good"

    fail "service resources did not return to the baseline within ${settle_seconds} s (see the table above);" \
      "FIFO files: $(tr '\n' ' ' <"$work/fifos")"
  fi
  # The service still answers and stops cleanly.
  ctl version >/dev/null 2>&1 || fail "the service does not answer after the run"
  kill -TERM "$service_pid"
  wait "$service_pid"
  status=$?
  [ "$status" -eq 0 ] || fail "the service exited with status $status on SIGTERM"
  service_pid=""
fi

if [ "$failed" -ne 0 ]; then
  echo "soak: FAILED (work directory kept: $work)"
  exit 1
fi
[ "${KX_SOAK_KEEP:-0}" = 1 ] && echo "soak: work directory $work" || rm -rf "$work"
echo "soak: passed"
