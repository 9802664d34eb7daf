#!/usr/bin/env bash
# Runs killed at random moments, then resumed: ROUNDS times (default 20), a run of pagesnap-batch
# over FOLDER's documents is killed with SIGKILL after a random 1 to MAX seconds (default 25),
# then resumed with --resume into the same folder; the pictures must be byte for byte those of
# one uninterrupted run, with no temporary file left. Prints one line a round and the count of
# rounds that differed (also the exit status). A check too long for the test suite.
#   [ROUNDS=n] [MAX=s] [JOBS=n] kill_resume.sh BIN_DIR FOLDER
set -uo pipefail
bin=${1:?usage: kill_resume.sh BIN_DIR FOLDER}
folder=${2:?usage: kill_resume.sh BIN_DIR FOLDER}
rounds=${ROUNDS:-20} max=${MAX:-25} jobs=${JOBS:-2}

work=$(mktemp -d /tmp/folium-killresume-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" HOME="$work/home" TMPDIR="$work/tmp"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME" "$HOME" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$bin/pagesnap-batch" -j "$jobs" -o "$work/ref" "$folder" 2>/dev/null
(cd "$work/ref" && sha256sum -- * | sort) > "$work/ref.sums"
echo "reference: $(wc -l < "$work/ref.sums") pictures"
bad=0
for ((r = 1; r <= rounds; r++)); do
  out="$work/out-$r"
  after=$((RANDOM % max + 1))
  "$bin/pagesnap-batch" -j "$jobs" -o "$out" "$folder" 2>/dev/null &
  pid=$!
  sleep "$after"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  done_before=$(cat "$out"/.pagesnap-batch.done 2>/dev/null | wc -l)
  "$bin/pagesnap-batch" -j "$jobs" --resume -o "$out" --report "$work/r-$r.json" "$folder" 2>/dev/null
  status=$?
  (cd "$out" && sha256sum -- * | sort) > "$work/sums-$r"
  left=$(find "$out" "$TMPDIR" -mindepth 1 -name '.pagesnap-batch-*' -o -mindepth 1 -name 'pagesnap-batch-*' | wc -l)
  if cmp -s "$work/ref.sums" "$work/sums-$r" && [ "$left" -eq 0 ] && [ "$status" -eq 0 ]; then
    verdict=same
  else
    verdict=DIFFERENT
    bad=$((bad + 1))
  fi
  echo "round $r: killed after ${after}s with $done_before documents finished; resumed: status $status, $verdict, $left temporary left"
  rm -rf "$out"
done
echo "$bad of $rounds rounds differed"
exit $((bad > 0))
