#!/usr/bin/env bash
# Times the line operations of varnel-cli on the virtual radio: `backup` and
# `restore --verify`, each run N times (default 20), and prints the mean and
# the fastest run in milliseconds. Records go to a temporary SQLite file, as
# on a station without a server.
# Usage: bench/cli_line.sh [BUILD_DIR] [N]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-20}"
cli="$build/varnel-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
unset VARNEL_RECORDS_DB

measure() {
  local label="$1"; shift
  local total=0 best=0 t0 t1 ms
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "$label: failed" >&2; exit 1; }
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000))
    total=$((total + ms))
    if ((best == 0 || ms < best)); then best=$ms; fi
  done
  awk -v l="$label" -v t="$total" -v n="$runs" -v b="$best" \
    'BEGIN { printf "%-40s mean %6.1f ms   fastest %6.1f ms   (%d runs)\n", l, t / n / 1000, b / 1000, n }'
}

for preset in variant0 large; do
  "$cli" backup "$work/$preset.tdb" --virtual-radio=$preset --quiet
  measure "backup ($preset)" "$cli" backup "$work/b.tdb" --virtual-radio=$preset --quiet
  measure "restore --verify ($preset)" "$cli" restore "$work/$preset.tdb" --virtual-radio=$preset --verify --quiet
done
