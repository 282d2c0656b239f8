#!/usr/bin/env bash
# Time to exit of varnel-cli on a virtual radio that takes N command frames
# and then lets every later transfer hang (--virtual-faults=hang-after=N,
# each hung transfer blocking for the 2-second time-out): `restore` hung
# after its first frame, `restore --verify` on the verify's first frame, and
# `align` on its first live-set and on a later one (keyed). Prints each
# command's exit status and wall time, the mean of RUNS runs (default 3).
# Usage: bench/cli_hang.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-3}"
cli="$build/varnel-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
unset VARNEL_RECORDS_DB

"$cli" backup "$work/radio.tdb" --virtual-radio=large --quiet --no-records >/dev/null

measure() {
  local label="$1"; shift
  local total=0 t0 t1 rc
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    set +e
    "$@" >/dev/null 2>&1
    rc=$?
    set -e
    t1=$(date +%s%N)
    total=$((total + (t1 - t0) / 1000000))
  done
  printf '%-58s exit %2d   time to exit %6d ms (mean of %d)\n' "$label" "$rc" $((total / runs)) "$runs"
}

radio=(--virtual-radio=large --no-records --quiet)
align=(align --procedure "$root/procedures/large.json" --instrument virtual --no-history)
measure "restore, hung after frame 1" "$cli" restore "$work/radio.tdb" "${radio[@]}" --virtual-faults=hang-after=1
measure "restore --verify, hung after frame 3 (the verify's entry)" \
  "$cli" restore "$work/radio.tdb" --verify "${radio[@]}" --virtual-faults=hang-after=3
measure "align, hung after frame 3 (the first live-set)" "$cli" "${align[@]}" "${radio[@]}" --virtual-faults=hang-after=3
measure "align, hung after frame 8 (keyed, mid-point)" "$cli" "${align[@]}" "${radio[@]}" --virtual-faults=hang-after=8
measure "align, hung after frame 20 (a later point)" "$cli" "${align[@]}" "${radio[@]}" --virtual-faults=hang-after=20
