#!/usr/bin/env bash
# Builds the Debian package into a temporary folder and checks what a user's system gets from
# it: the desktop entry and the AppStream metainfo pass their validators, the package holds
# the programs, libraries and helpers in one folder with launchers, desktop files, icon, manual
# pages and manual (and nothing of the tests), its links resolve inside the package, the
# installed binaries look for libraries beside themselves only, and it depends on what the
# programs need. Every failed check is printed; any makes the exit code 1.
# Usage: check_package.sh BUILD_DIR APP_ID WITH_BATCH(0|1) [WITH_SERVE(0|1)]
set -uo pipefail
build=$1 id=$2 batch=$3 serve=${4:-0}
work=$(mktemp -d /tmp/folium-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for tool in cpack dpkg-deb desktop-file-validate appstreamcli readelf; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (scripts/deps installs it)"; exit 1; }
done

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no .deb made"; exit 1; }
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{ name = $6; for (i = 7; i <= NF; ++i) name = name " " $i; print substr($1, 1, 1) " " name }' \
  >"$work/list"
has() {  # has TYPE PATH [LINK-TARGET]: a file (-), link (l) or folder (d) in the package
  local want="$1 ./$2"
  [ $# -ge 3 ] && want="$want -> $3"
  grep -qxF -- "$want" "$work/list" || fail "package lacks $1 $2${3:+ -> $3}"
}
dir=usr/lib/folium-converter
has - $dir/Pagesnap
for lib in libplatform.so libplatform_ui.so libPixmill.so libWordServer.so; do has - $dir/$lib; done
has - $dir/taskkill
has l $dir/doc ../../share/folium-converter/doc
has l usr/bin/pagesnap ../lib/folium-converter/Pagesnap
has - usr/share/applications/$id.desktop
has - usr/share/icons/hicolor/scalable/apps/$id.svg
has - usr/share/metainfo/$id.metainfo.xml
has - usr/share/man/man1/pagesnap.1.gz
has - usr/share/folium-converter/doc/manual.html
has - usr/share/folium-converter/doc/README.md
if [ "$batch" = 1 ]; then
  has - $dir/pagesnap-batch
  has l usr/bin/pagesnap-batch ../lib/folium-converter/pagesnap-batch
  has - usr/share/man/man1/pagesnap-batch.1.gz
  has - usr/share/doc/folium-converter/examples/folium-convert.service
  has - usr/share/doc/folium-converter/examples/pagesnap-array.sbatch
  has - usr/share/doc/folium-converter/examples/pagesnap-job.yaml
fi
if [ "$serve" = 1 ]; then
  has - $dir/pagesnap-serve
  has l usr/bin/pagesnap-serve ../lib/folium-converter/pagesnap-serve
  has - usr/share/man/man1/pagesnap-serve.1.gz
  has - usr/share/doc/folium-converter/examples/folium-serve.service
  has - usr/share/doc/folium-converter/examples/pagesnap-serve.yaml
else
  grep -q 'pagesnap-serve\|folium-serve' "$work/list" && fail "pagesnap-serve's files in a package without pagesnap-serve"
fi
# Test programs and modules stay in the build folder; nothing outside /usr.
grep -E '(_test|_bench|TestModule|OleTestServer|folium\.ini)' "$work/list" && fail "test files in the package"
grep -vE '^. \./(usr/.*)?$' "$work/list" && fail "files outside /usr"

dpkg-deb -x "$deb" "$work/root"
# Every link ends at something the package holds.
while read -r link; do
  [ -e "$work/root/$link" ] || fail "dangling link $link -> $(readlink "$work/root/$link")"
done < <(cd "$work/root" && find . -type l)
# The pictures the README and the manual show are shipped with them.
for page in README.md manual.html; do
  f="$work/root/usr/share/folium-converter/doc/$page"
  [ -f "$f" ] || continue
  for img in $(grep -oE 'docs/[A-Za-z0-9_.-]+\.png' "$f" | sort -u); do
    [ -f "$work/root/usr/share/folium-converter/doc/$img" ] || fail "$page shows $img, which is not shipped"
  done
done
# Binaries find their libraries beside themselves (the engine module also in LibreOffice's
# program folder), never in a build folder.
for f in "$work/root/$dir"/*; do
  [ -L "$f" ] || ! readelf -h "$f" >/dev/null 2>&1 && continue
  runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  case "$(basename "$f")" in
    libWordServer.so) want='$ORIGIN:/usr/lib/libreoffice/program' ;;
    *) want='$ORIGIN' ;;
  esac
  if [ -z "$runpath" ]; then
    # Fine only for a binary that needs none of the libraries beside it.
    for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      [ -e "$work/root/$dir/$lib" ] && fail "$(basename "$f") needs $lib but has no RUNPATH"
    done
    continue
  fi
  [ "$runpath" = "$want" ] || fail "$(basename "$f") RUNPATH '$runpath', expected '$want'"
done

desktop="$work/root/usr/share/applications/$id.desktop"
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" >"$work/dfv" 2>&1 || { cat "$work/dfv"; fail "desktop-file-validate"; }
  grep -E ': error:' "$work/dfv" && fail "desktop entry errors"
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  [ "$exec_line" = "pagesnap %F" ] || fail "Exec=$exec_line"
  grep -qx 'Categories=Office;Graphics;' "$desktop" || fail "Categories"
  grep -qx "Icon=$id" "$desktop" || fail "Icon"
  for mime in application/msword application/vnd.openxmlformats-officedocument.wordprocessingml.document; do
    grep -q "^MimeType=.*$mime;" "$desktop" || fail "MimeType lacks $mime"
  done
fi
metainfo="$work/root/usr/share/metainfo/$id.metainfo.xml"
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for need in "libreoffice-writer-nogui (>= " "| libreoffice-writer (>= " libqt6widgets6 libpoppler126 libjpeg62-turbo \
  libpng16-16 libgif7 libtiff6 libuno-sal3 fonts-liberation2 fonts-crosextra-carlito fonts-crosextra-caladea \
  fonts-noto-core; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need: $depends"
done
# Every library a program of the package needs, that the package does not hold itself, comes
# from a package Depends names (pagesnap-serve's HTTP library was once missing from it). The
# owner is looked up by the path the loader finds, so libm's is libc6, not libc6-i386.
for f in "$work/root/$dir"/*; do
  [ -L "$f" ] || ! readelf -h "$f" >/dev/null 2>&1 && continue
  for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    [ -e "$work/root/$dir/$lib" ] && continue
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l && /x86-64/ {print $NF; exit}')
    [ -n "$path" ] || continue  # the engine's own (UNO), found through RUNPATH: named above
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1)
    case "$owner" in "" | libc6 | libgcc-s1 | libstdc++6) continue ;; esac
    [[ "$depends" == *"$owner"* ]] || fail "$(basename "$f") needs $lib of $owner, which Depends lacks"
  done
done
# The engine named at the version the tests passed with: the one installed here meets it, and an
# older one (Debian 12's own 7.4) does not.
engine_min=$(grep -o 'libreoffice-writer-nogui (>= [^)]*)' <<<"$depends" | sed 's/.*>= //; s/)//')
engine_have=$(dpkg-query -W -f='${Version}' libreoffice-writer-nogui 2>/dev/null || true)
if [ -n "$engine_have" ]; then
  dpkg --compare-versions "$engine_have" ge "$engine_min" || fail "the engine here ($engine_have) is below the package's $engine_min"
fi
dpkg --compare-versions "4:7.4.7-1+deb12u14" lt "$engine_min" || fail "the package accepts the 7.4 engine: $engine_min"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *fonts-noto-cjk* ]] || fail "Recommends lacks fonts-noto-cjk"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *fonts-wqy-zenhei* ]] || fail "Recommends lacks fonts-wqy-zenhei"
[ "$(dpkg-deb -f "$deb" Package)" = folium-converter ] || fail "package name"

# The example service: systemd takes every line of it (against the program of this package),
# and it runs sandboxed as tests/batch's service sandbox test runs it.
unit="$work/root/usr/share/doc/folium-converter/examples/folium-convert.service"
if [ -f "$unit" ] && command -v systemd-analyze >/dev/null; then
  sed "s|/usr/bin/pagesnap-batch|$work/root/$dir/pagesnap-batch|" "$unit" > "$work/folium-convert.service"
  said=$(cd "$work" && systemd-analyze verify --man=no folium-convert.service 2>&1) || fail "systemd-analyze verify: $said"
  [ -z "$said" ] || fail "systemd-analyze verify: $said"
  for want in DynamicUser=yes ProtectHome=yes PrivateTmp=yes ProtectSystem=strict StateDirectory=folium-convert; do
    grep -qx "$want" "$unit" || fail "the service lacks $want"
  done
fi

[ $failures -eq 0 ] && echo "package checks passed" || echo "$failures check(s) failed"
[ $failures -eq 0 ]
