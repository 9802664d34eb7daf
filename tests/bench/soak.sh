#!/usr/bin/env bash
# A long run: the documents given, repeated until there are COUNT of them (default 3000), through
# pagesnap-batch with -j JOBS (default 2) and the engine limits given after the documents'
# folder. Prints the largest engine resident memory seen (sampled every second), the engines
# started, and pages per second over the first and the last 500 documents (from the report's
# per-document times). A benchmark, not a test.
#   [COUNT=n] [JOBS=n] soak.sh BIN_DIR FOLDER [pagesnap-batch options...]
set -euo pipefail
bin=${1:?usage: soak.sh BIN_DIR FOLDER [options...]}
folder=${2:?usage: soak.sh BIN_DIR FOLDER [options...]}
shift 2
count=${COUNT:-3000}
jobs=${JOBS:-2}

work=$(mktemp -d /tmp/folium-soak-XXXXXX)
trap 'kill "$sampler" 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" HOME="$work/home" TMPDIR="$work/tmp"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME" "$HOME" "$TMPDIR" "$work/out"
chmod 700 "$XDG_RUNTIME_DIR"

# The list: copies of the documents (a run takes a file named twice once).
mapfile -t docs < <(find "$folder" -maxdepth 1 -type f -iname '*.doc*' | sort)
for ((i = 0; i < count; i++)); do
  d=${docs[i % ${#docs[@]}]}
  name="$work/docs/$((i / ${#docs[@]}))/$(basename "$d")"
  mkdir -p "$(dirname "$name")"
  [ -e "$name" ] || cp "$d" "$name"
  echo "$name"
done > "$work/list"

# The engines' resident memory, every second, while the run lasts.
(
  peak=0
  while sleep 1; do
    for pid in $(pgrep -f "soffice.bin.*$XDG_CACHE_HOME" || true); do
      kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
      [ "${kb:-0}" -gt "$peak" ] && peak=$kb && echo "$peak" > "$work/peak"
    done
  done
) &
sampler=$!

start=$(date +%s.%N)
"$bin/pagesnap-batch" -j "$jobs" -o "$work/out" --report "$work/report.json" --files-from "$work/list" "$@" \
  > /dev/null 2> "$work/err" || true
end=$(date +%s.%N)

python3 - "$work/report.json" "$(cat "$work/peak" 2>/dev/null || echo 0)" "$start" "$end" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))
docs = r["documents"]
def rate(part):
    pages = sum(len(d["written"]) for d in part)
    secs = sum(d["seconds"] for d in part)
    return pages / secs if secs else 0
print("documents %d, converted %d, failed %d" % (len(docs), r["totals"]["converted"], r["totals"]["failed"]))
print("wall %.0f s, pages %d, %.2f pages/s" % (float(sys.argv[4]) - float(sys.argv[3]), r["totals"]["pages_written"],
                                               r["totals"]["pages_per_second"]))
print("largest engine resident memory %d MB" % (int(sys.argv[2]) // 1024))
print("engines started %d (per worker %s)" % (len(r["processes"]["engines"]), r["processes"]["engines_per_worker"]))
print("pages per worker-second: first 500 documents %.2f, last 500 %.2f" % (rate(docs[:500]), rate(docs[-500:])))
EOF
