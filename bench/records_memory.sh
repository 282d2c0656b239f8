#!/usr/bin/env bash
# Peak memory (maximum resident set size, /usr/bin/time -v) of
# `varnel-cli records list`, `records export` (CSV and OCP output) and
# `records stats` over a SQLite file of N records (default 200000): entries,
# alignment points with their traceability, and leaves, each with the two
# 848-byte images, as a production line writes them.
#
# Usage: bench/records_memory.sh [VARNEL_CLI] [N]
#   VARNEL_CLI defaults to build/varnel-cli.
set -euo pipefail

cli="${1:-build/varnel-cli}"
count="${2:-200000}"
work="$(mktemp -d /tmp/varnel-records-memory.XXXXXX)"
trap 'rm -rf "$work"' EXIT
db="$work/records.sqlite"
export VARNEL_RECORDS_DB="sqlite:$db"
export XDG_DATA_HOME="$work" XDG_CONFIG_HOME="$work"

# The schema comes from the program itself (an empty listing creates it).
"$cli" records list --quiet >/dev/null

python3 - "$db" "$count" <<'PY'
import os, sqlite3, sys, uuid
db, count = sys.argv[1], int(sys.argv[2])
con = sqlite3.connect(db)
cols = [r[1] for r in con.execute("PRAGMA table_info(calibration_record)")]
traced = "verdict" in cols
image = os.urandom(848)
rows = []
points_per_run = 24
n = 0
run = 0
while n < count:
    session, run_id = str(uuid.uuid4()), str(uuid.uuid4())
    serial = "SN-%06d" % (run // 2)
    station = "station-%d" % (run % 4)
    for k in range(points_per_run + 2):
        if n >= count:
            break
        event = "enter" if k == 0 else "leave" if k == points_per_run + 1 else "align"
        sec = run * 90 + k * 3
        when = "2026-12-%02dT%02d:%02d:%02d.000Z" % (1 + sec // 86400 % 28, sec // 3600 % 24, sec // 60 % 60, sec % 60)
        r = dict(uid=str(uuid.uuid4()), session=session, recorded_at=when, station=station, operator="kim",
                 model_name="VR-D200", firmware="V2.1", model_code=3, model_variant=0, serial=serial, event=event,
                 detail="pass: target 37 +/- 0.2 dBm, reading 36.950 dBm, 3 tries, High power" if event == "align" else "",
                 image_at_entry=image, image_now=image)
        if event == "align":
            r.update(item=19, band=0, point=1 + k % 8, old_value=120, new_value=124)
            if traced:
                r.update(station_id=station, run_id=run_id, step="High power", unit="dBm", limit_low=36.8,
                         limit_high=37.2, reading=36.95, tries=3, verdict="pass", retest_count=run % 2,
                         procedure_name="variant0.json", software_version="0.1.0")
        rows.append(r)
        n += 1
    run += 1
    if len(rows) >= 5000 or n >= count:
        for r in rows:
            keys = [c for c in r if c in cols]
            con.execute("INSERT INTO calibration_record (%s) VALUES (%s)" % (",".join(keys), ",".join("?" * len(keys))),
                        [r[c] for c in keys])
        con.commit()
        rows = []
con.close()
PY

peak() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {printf "%.1f MB", $2 / 1024}'
}
echo "records: $count in $(du -h "$db" | cut -f1) ($cli)"
echo "records list          : $(peak "$cli" records list --quiet)"
echo "records export (CSV)  : $(peak "$cli" records export --quiet)"
echo "records export --output: $(peak "$cli" records export --quiet --output "$work/out.csv")"
if "$cli" records export --format ocp --limit 1 --quiet >/dev/null 2>&1; then
  echo "records export (OCP)  : $(peak "$cli" records export --format ocp --quiet)"
  echo "records stats         : $(peak "$cli" records stats --quiet)"
fi
