#!/usr/bin/env bash
# A small mutation runner: plants one fault at a time in the core rules, rebuilds the test
# program of that area, runs its tests with a time limit, restores the file, and prints which
# mutants the tests killed and which survived, with a score per area.
#
#   scripts/mutate.sh                 every mutant of scripts/mutants.txt
#   scripts/mutate.sh queue T03       only the mutants of an area, or with the given ids
#   KX_MUTATE_TIMEOUT=300 scripts/mutate.sh
#   scripts/mutate.sh --check         only lists the mutants whose text no longer fits the code
#
# Mutants (scripts/mutants.txt), one a line, fields separated by " @@ ":
#   ID @@ AREA @@ FILE @@ ORIGINAL TEXT @@ REPLACEMENT [@@ GTEST FILTER]
# The original text must occur exactly once in the file. Mutants that no test can tell apart
# from the original are listed with their reason in scripts/mutants-equivalent.txt and are
# left out of the score. The build goes to build-mutate/ (RelWithDebInfo); the report to
# build-mutate/mutation-report.txt. Run by hand; CI does not run it.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
MUTANTS=${KX_MUTANTS:-scripts/mutants.txt}
EQUIVALENT=scripts/mutants-equivalent.txt
BUILD=${KX_MUTATE_BUILD:-build-mutate}
TIMEOUT=${KX_MUTATE_TIMEOUT:-240}
REPORT=$BUILD/mutation-report.txt
SEP=' @@ '
# Reuse what the other build directories compiled (the objects differ only in their paths).
export CCACHE_NOHASHDIR=true

# The test program of each area and the tests that exercise its rules.
declare -A PROGRAM=([transport]=test_platform [validity]=test_demodtypes [legacy]=test_demodtypes
                    [statscache]=test_demod [queue]=test_demod [port]=test_demod [scan]=test_demod
                    [network]=test_network [hal3460]=test_hal [driver]=test_device
                    [qam]=test_hal [sat]=test_hal)
declare -A FILTER=([transport]='Pipe*:ListenerFixture.*' [validity]='DemodPars*' [legacy]='DemodPars*'
                   [statscache]='StatisticsCache*:StatsTest.*' [queue]='CmdQueue*:PortCmdType*:PortTest.*'
                   [port]='PortTest.*:StatsTest.*:CmdQueue*' [scan]='ScanTest.*:BandWidth.*'
                   [network]='ManagerFixture.*:KxeManager*' [hal3460]='Kxa3460Hal*' [driver]='Driver*'
                   [qam]='Kx3530*:Kxa3490*:QamChips*:Qam*' [sat]='Kxa3470*:DvbS2*:Window*')

BACKUP_DIR=$(mktemp -d)
CURRENT_FILE=""
# The tree never stays mutated: the file is restored on every way out, Ctrl-C included. The
# restored copy gets a fresh time stamp so that the next build recompiles it.
restore() {
    if [ -n "$CURRENT_FILE" ] && [ -f "$BACKUP_DIR/original" ]; then
        cat "$BACKUP_DIR/original" >"$CURRENT_FILE"
        CURRENT_FILE=""
    fi
}
trap 'restore; rm -rf "$BACKUP_DIR"' EXIT
trap 'restore; exit 130' INT TERM

if [ "${1:-}" = "--check" ]; then
    stale=0
    while IFS= read -r line; do
        [[ -z "$line" || "$line" == \#* ]] && continue
        [[ "$line" == *" @@" ]] && line+=" "
        mapfile -t f < <(awk -v s="$SEP" '{ n = split($0, a, s); for (i = 1; i <= n; i++) print a[i] }' <<<"$line")
        n=$(FROM="${f[3]}" perl -0777 -ne '($f = $ENV{FROM}) =~ s/\\n/\n/g; my $n = () = /\Q$f\E/g; print $n' "${f[2]}")
        [ "$n" = 1 ] || { echo "${f[0]}: found $n times in ${f[2]}: ${f[3]}"; stale=1; }
    done <"$MUTANTS"
    exit $stale
fi

if [ -n "$(git status --porcelain -- Libraries service 2>/dev/null)" ]; then
    echo "mutate.sh: Libraries/ or service/ has uncommitted changes; commit or stash them first" >&2
    exit 2
fi

declare -A EQUIV_REASON=()
if [ -f "$EQUIVALENT" ]; then
    while read -r id reason; do
        [[ -z "$id" || "$id" == \#* ]] && continue
        EQUIV_REASON[$id]=$reason
    done <"$EQUIVALENT"
fi

# Which mutants to run: all, or those whose id or area is named on the command line.
selected() {
    [ ${#SELECT[@]} -eq 0 ] && return 0
    local id=$1 area=$2 s
    for s in "${SELECT[@]}"; do
        [[ "$s" == "$id" || "$s" == "$area" ]] && return 0
    done
    return 1
}
SELECT=("$@")

mkdir -p "$BUILD"
nice -n 10 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_BUILD_BENCH=OFF >"$BUILD/cmake.log" 2>&1 ||
    { echo "mutate.sh: cmake failed, see $BUILD/cmake.log" >&2; exit 2; }

build() { nice -n 10 ninja -C "$BUILD" "$1" >"$BUILD/build.log" 2>&1; }
run_tests() { # program filter -> exit status of the tests
    (cd "$BUILD/tests" && timeout --kill-after=10 "$TIMEOUT" nice -n 10 "./$1" --gtest_filter="$2" \
        --gtest_fail_fast --gtest_brief=1 >"$ROOT/$BUILD/test.log" 2>&1)
}

# The unmutated tree must pass every area's tests, or no result means anything.
declare -A BASELINE_DONE=()
while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    IFS='|' read -r id area _ <<<"${line//$SEP/|}"
    selected "$id" "$area" || continue
    program=${PROGRAM[$area]:-}
    [ -z "$program" ] && { echo "mutate.sh: unknown area '$area' ($id)" >&2; exit 2; }
    [ -n "${BASELINE_DONE[$area]:-}" ] && continue
    BASELINE_DONE[$area]=1
    if ! build "$program" || ! run_tests "$program" "${FILTER[$area]}"; then
        echo "mutate.sh: the unmutated tests of '$area' fail; see $BUILD/build.log and $BUILD/test.log" >&2
        exit 2
    fi
done <"$MUTANTS"

declare -A TOTAL=() KILLED=() EQUIV=() OTHER=()
ROWS=()
while IFS= read -r line <&3; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Split on the separator (awk keeps the texts whole, including any "|").
    [[ "$line" == *" @@" ]] && line+=" " # an empty replacement at the end of the line
    mapfile -t f < <(awk -v s="$SEP" '{ n = split($0, a, s); for (i = 1; i <= n; i++) print a[i] }' <<<"$line")
    id=${f[0]} area=${f[1]} file=${f[2]} from=${f[3]} to=${f[4]} filter=${f[5]:-${FILTER[${f[1]}]}}
    selected "$id" "$area" || continue
    program=${PROGRAM[$area]}
    by=""
    TOTAL[$area]=$(( ${TOTAL[$area]:-0} + 1 ))
    # Texts may span lines: "\n" in the list stands for a line break.
    export FROM="$from" TO="$to"
    PERL_TEXTS='BEGIN { ($f = $ENV{FROM}) =~ s/\\n/\n/g; ($t = $ENV{TO}) =~ s/\\n/\n/g }'
    count=$(perl -0777 -ne "$PERL_TEXTS"' my $n = () = /\Q$f\E/g; print $n' "$file" 2>/dev/null || echo 0)
    lineno=$(perl -0777 -ne "$PERL_TEXTS"' if (/\Q$f\E/) { print 1 + (substr($_, 0, $-[0]) =~ tr/\n//) }' "$file" 2>/dev/null)
    where="$(basename "$file"):${lineno:-?}"
    if [ -n "${EQUIV_REASON[$id]:-}" ]; then
        status=EQUIVALENT
        EQUIV[$area]=$(( ${EQUIV[$area]:-0} + 1 ))
    elif [ "$count" != 1 ]; then
        status="STALE($count)" # the text is gone or ambiguous: the list needs updating
        OTHER[$area]=$(( ${OTHER[$area]:-0} + 1 ))
    else
        cp "$file" "$BACKUP_DIR/original"
        CURRENT_FILE=$file
        perl -0777 -i -pe "$PERL_TEXTS"' s/\Q$f\E/$t/' "$file"
        if ! build "$program"; then
            status=NOBUILD # does not compile: not a fault the tests could meet
            OTHER[$area]=$(( ${OTHER[$area]:-0} + 1 ))
        elif run_tests "$program" "$filter"; then
            status=SURVIVED
        else
            rc=$?
            status=$([ $rc -ge 124 ] && [ $rc -le 137 ] && echo "KILLED(time)" || echo KILLED)
            # The first test that failed on it.
            by=$(sed -n 's/^\[  FAILED  \] \([^ ]*\).*/\1/p' "$BUILD/test.log" | head -1)
            KILLED[$area]=$(( ${KILLED[$area]:-0} + 1 ))
        fi
        restore
    fi
    row=$(printf '%-4s %-10s %-30s %-12s %s  =>  %s%s' "$id" "$area" "$where" "$status" "$from" "$to" \
        "${by:+   [$by]}")
    ROWS+=("$row")
    echo "$row"
done 3<"$MUTANTS"
# Leave the mutation build matching the restored tree.
for area in "${!TOTAL[@]}"; do build "${PROGRAM[$area]}" || true; done

{
    echo "Mutants"
    printf '%s\n' "${ROWS[@]}"
    echo
    printf '%-10s %6s %6s %6s %6s %8s\n' area mutants equiv killed alive score
    all=0; allKilled=0; allScored=0; allEquiv=0
    for area in $(printf '%s\n' "${!TOTAL[@]}" | sort); do
        total=${TOTAL[$area]}; killed=${KILLED[$area]:-0}; equiv=${EQUIV[$area]:-0}; other=${OTHER[$area]:-0}
        scored=$(( total - equiv - other ))
        score=$([ $scored -gt 0 ] && echo "$(( 100 * killed / scored )) %" || echo "-")
        printf '%-10s %6d %6d %6d %6d %8s\n' "$area" "$total" "$equiv" "$killed" $(( scored - killed )) "$score"
        all=$(( all + total )); allKilled=$(( allKilled + killed )); allScored=$(( allScored + scored ))
        allEquiv=$(( allEquiv + equiv ))
    done
    score=$([ $allScored -gt 0 ] && echo "$(( 100 * allKilled / allScored )) %" || echo "-")
    printf '%-10s %6d %6d %6d %6d %8s\n' all "$all" "$allEquiv" "$allKilled" $(( allScored - allKilled )) "$score"
} | tee "$REPORT"
