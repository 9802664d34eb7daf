#!/usr/bin/env bash
# pagesnap-batch against the office suite's own route to page pictures, on the same documents
# in the same run: "soffice --headless --convert-to pdf" of all of them in one process (a
# private profile), then "pdftoppm -r 96" per PDF. Prints pages per second for PNG and JPG,
# pagesnap-batch with -j 1 and -j 2, and the ratios. Each figure is the best of REPEAT runs
# (default 2; other work on the machine only slows runs down). A benchmark, not a test.
#   [REPEAT=n] batch_bench.sh BIN_DIR DOCUMENT|FOLDER...
set -euo pipefail

bin=${1:?usage: batch_bench.sh BIN_DIR DOCUMENT|FOLDER...}
shift
[ $# -gt 0 ] || { echo "usage: batch_bench.sh BIN_DIR DOCUMENT|FOLDER..." >&2; exit 2; }
batch="$bin/pagesnap-batch"

# Everything private: engines, profiles and temporary files of this run only.
work=$(mktemp -d /tmp/folium-batch-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" HOME="$work/home" TMPDIR="$work/tmp"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME" "$HOME" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The documents, as the command gathers them from a folder (*.doc*, any case, not recursive).
docs=()
for a in "$@"; do
  if [ -d "$a" ]; then
    while IFS= read -r -d '' f; do docs+=("$f"); done < <(find "$a" -maxdepth 1 -type f -iname '*.doc*' -print0 | sort -z)
  else
    docs+=("$a")
  fi
done
echo "documents: ${#docs[@]}"

repeat=${REPEAT:-2}
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
count() { find "$1" -maxdepth 1 -type f -not -name '.*' | wc -l; }

# The peer draws with the same fonts as the engine: the system's, then the program's stand-ins
# for Word fonts. It keeps its extension cache in the run's folder too (as root it would make
# the office suite's shared one).
cat > "$work/peer-fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <include>$(cd "$(dirname "$0")/../.." && pwd)/wordserver/WordFonts.conf</include>
</fontconfig>
EOF
soffice() { FONTCONFIG_FILE="$work/peer-fonts.conf" command soffice -env:UNO_SHARED_PACKAGES_CACHE="file://$work/lo-shared" "$@"; }

# Warm profiles for both sides (their first start sets a profile up): not timed.
mkdir -p "$work/warm"
"$batch" -j 2 -o "$work/warm" "${docs[0]}" "${docs[0]}" >/dev/null 2>&1 || true
soffice --headless -env:UserInstallation="file://$work/lo-profile" --convert-to pdf --outdir "$work/warm" "${docs[0]}" >/dev/null 2>&1 || true

# The best (shortest) of $repeat runs of a measuring function: "pages seconds".
best() {
  local b="" line
  for ((i = 0; i < repeat; i++)); do
    line=$("$@")
    if [ -z "$b" ] || awk -v a="${line#* }" -v c="${b#* }" 'BEGIN { exit !(a < c) }'; then
      b=$line
    fi
  done
  echo "$b"
}

peer() {  # format: png | jpeg
  local out="$work/peer-$1"
  rm -rf "$out" "$work/pdf"
  mkdir -p "$out" "$work/pdf"
  local t0 t1
  t0=$(now)
  soffice --headless -env:UserInstallation="file://$work/lo-profile" --convert-to pdf --outdir "$work/pdf" "${docs[@]}" >/dev/null 2>&1 || true
  for pdf in "$work/pdf"/*.pdf; do
    [ -e "$pdf" ] || continue
    local base
    base=$(basename "$pdf" .pdf)
    pdftoppm -r 96 "-$1" "$pdf" "$out/$base" 2>/dev/null || true
  done
  t1=$(now)
  echo "$(count "$out") $(calc "$t1 - $t0")"
}

ours() {  # format, jobs
  local out="$work/ours-$1-$2"
  rm -rf "$out"
  local t0 t1
  t0=$(now)
  "$batch" -j "$2" -f "$1" -o "$out" "${docs[@]}" >/dev/null 2>"$work/ours.err" || true
  t1=$(now)
  echo "$(count "$out") $(calc "$t1 - $t0")"
}

printf '%-6s %-22s %7s %9s %9s %8s\n' format run pages seconds pages/s "x peer"
for fmt in png jpg; do
  ppm=png
  [ "$fmt" = jpg ] && ppm=jpeg
  read -r pp ps < <(best peer "$ppm")
  prate=$(calc "$pp / $ps")
  printf '%-6s %-22s %7d %9.2f %9.2f %8s\n' "$fmt" "soffice+pdftoppm" "$pp" "$ps" "$prate" "1.00"
  declare -A rate=()
  for j in 1 2; do
    read -r n s < <(best ours "$fmt" "$j")
    rate[$j]=$(calc "$n / $s")
    printf '%-6s %-22s %7d %9.2f %9.2f %8.2f\n' "$fmt" "pagesnap-batch -j $j" "$n" "$s" "${rate[$j]}" \
      "$(calc "${rate[$j]} / $prate")"
  done
  printf '%-6s %-22s %s\n' "$fmt" "-j 2 over -j 1" "$(printf '%.2f' "$(calc "${rate[2]} / ${rate[1]}")")"
done
