#!/usr/bin/env bash
# The container image made by packaging/container/build-image.sh from this build's package
# converts documents as the build's own pagesnap-batch does: the same picture names and the
# same bytes. It runs as users run it: no network, read-only root file system, documents
# mounted read-only, pictures into a mounted folder, as the image's unprivileged user.
# Podman gets a configuration and storage of its own under the build folder (never the
# machine's); the image is reused while the package's content and the build script are the
# same, and the Debian packages mmdebstrap downloads are kept there too.
# Exits 77 (skipped) where this machine cannot run containers.
# Usage: check_container.sh BUILD_DIR SOURCE_DIR CORPUS_DIR
set -uo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd) corpus=$3
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
failures=0

# Varied documents: .doc and .docx, one and many pages, pictures, tables, headers, East Asian
# and right-to-left text, tracked changes.
docs=(Bug47958.doc FloatingPictures.doc test-fields.doc Headers.docx HC014-RTL-Table-01.docx
      RA001-Tracked-Revisions-01.docx bib-chernigovka.netdo.ru_download_docs_17459.docx)
for d in "${docs[@]}"; do
  [ -f "$corpus/$d" ] || skip "the corpus document $corpus/$d is missing (FOLIUM_CORPUS_DIR)"
done
for tool in podman mmdebstrap runc cpack dpkg-deb; do
  command -v $tool >/dev/null || skip "$tool is missing (bash scripts/deps installs it)"
done
if [ "$(id -u)" -ne 0 ] && ! grep -q "^$(id -un):" /etc/subuid 2>/dev/null; then
  skip "$(id -un) has no subordinate ids in /etc/subuid, which podman and mmdebstrap need without root"
fi

# Short paths: with a storage root much longer than about 45 characters every container took
# 20 s more to end (podman gave up waiting for conmon).
cache=$build/podman
mkdir -p "$cache/tmp"
chmod 700 "$cache"
# The machine's limit on open files is often below podman's default for containers, which runc
# then cannot set; "[]" keeps the limits podman itself runs with.
cat > "$cache/containers.conf" <<EOF
[containers]
default_ulimits = []
[engine]
runtime = "runc"
cgroup_manager = "cgroupfs"
events_logger = "file"
tmp_dir = "$cache/tmp"
EOF
# One store per driver: podman refuses a store made by another driver.
storage() {
  mkdir -p "$cache/r-$1"
  cat > "$cache/storage.conf" <<EOF
[storage]
driver = "$1"
graphroot = "$cache/s-$1"
runroot = "$cache/r-$1"
EOF
}
export CONTAINERS_CONF=$cache/containers.conf CONTAINERS_STORAGE_CONF=$cache/storage.conf
storage overlay
# overlay cannot stack on an overlay file system (a build folder inside a container): vfs can.
if ! podman info >"$cache/info.log" 2>&1; then
  storage vfs
  podman info >"$cache/info.log" 2>&1 || skip "podman cannot run here: $(tail -3 "$cache/info.log")"
fi

work=$(mktemp -d /tmp/folium-container-XXXXXX)
box=""
cleanup() {
  [ -z "$box" ] || podman rm -f "$box" >/dev/null 2>&1
  # The container's user owns its pictures; without root they belong to a subordinate id.
  [ "$(id -u)" -eq 0 ] || podman unshare rm -rf "$work/out-in" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Can this machine start a container at all? A probe of this machine's own /bin/true, so that
# a broken image fails the test rather than skipping it.
mkdir -p "$work/probe/bin" "$work/probe/tmp"
cp /bin/true "$work/probe/bin/"
for lib in $(ldd /bin/true | grep -oE '/[^ ]+'); do
  mkdir -p "$work/probe$(dirname "$lib")" && cp -L "$lib" "$work/probe$lib"
done
tar -C "$work/probe" -cf "$work/probe.tar" . &&
  podman import -q "$work/probe.tar" localhost/folium-probe:1 >/dev/null 2>"$work/probe.log" &&
  podman run --rm --network none --read-only --user 10001:10001 localhost/folium-probe:1 /bin/true \
    >>"$work/probe.log" 2>&1 || skip "this machine cannot run a container with podman: $(tail -3 "$work/probe.log")"

# The package, made from this build as check_package.sh makes it.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/pkg/*.deb | head -1)
# Keyed by what the package holds and by the build script; cpack's timestamps are no change.
key=$( { dpkg-deb -f "$deb"; dpkg-deb --fsys-tarfile "$deb" | tar -t | sort;
         dpkg-deb --fsys-tarfile "$deb" | tar -xO | sha256sum;
         cat "$src/packaging/container/build-image.sh" "$src/packaging/container/entrypoint.sh" | sha256sum; } |
       sha256sum | cut -c1-16)
image=localhost/pagesnap-batch-test:$key
if podman image exists "$image"; then
  echo "image $image (built earlier from the same package)"
else
  start=$(date +%s)
  if ! bash "$src/packaging/container/build-image.sh" -t "$image" --cache "$cache/debs" "$deb" >"$work/image.log" 2>&1; then
    cat "$work/image.log"; echo "FAIL: the image could not be built"; exit 1
  fi
  echo "image $image built in $(( $(date +%s) - start )) s"
  # Earlier test images only take room.
  podman images --format '{{.Repository}}:{{.Tag}}' | grep '^localhost/pagesnap-batch-test:' | grep -vxF "$image" |
    xargs -r podman rmi -f >/dev/null 2>&1
fi
podman image inspect --format 'size {{.Size}} bytes, user {{.Config.User}}, version {{index .Labels "org.opencontainers.image.version"}}' "$image"

mkdir -p "$work/docs" "$work/out-host" "$work/out-in" "$work/home" "$work/xdg-run"
chmod 700 "$work/xdg-run"
for d in "${docs[@]}"; do cp "$corpus/$d" "$work/docs/"; done
chmod -R a+rX "$work/docs"
# The container's user writes the pictures.
if [ "$(id -u)" -eq 0 ]; then chown 10001:10001 "$work/out-in"; else podman unshare chown 10001:10001 "$work/out-in"; fi

# Outside: the build's own program, with folders of its own.
start=$(date +%s.%N)
HOME=$work/home XDG_CACHE_HOME=$work/home/.cache XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/xdg-run \
  TMPDIR=$work/home "$build/bin/pagesnap-batch" -j 2 -o "$work/out-host" --report "$work/host.json" "$work/docs" \
  >"$work/host.log" 2>&1
status=$?
host_s=$(awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $start }")
[ $status -eq 0 ] || { cat "$work/host.log"; fail "pagesnap-batch outside ended with $status"; }

# Inside, as documented in packaging/container/README.md.
start=$(date +%s.%N)
podman run --rm --network none --read-only -v "$work/docs:/in:ro" -v "$work/out-in:/out" "$image" \
  -j 2 -o /out --report - /in >"$work/in.json" 2>"$work/in.log"
status=$?
in_s=$(awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $start }")
[ $status -eq 0 ] || { cat "$work/in.log"; fail "pagesnap-batch in the container ended with $status"; }
echo "outside ${host_s} s, in the container ${in_s} s (engine starts included)"

pictures() { (cd "$1" && find . -maxdepth 1 -type f -name '*.png' -printf '%f\n' | sort); }
pictures "$work/out-host" >"$work/host.list"
pictures "$work/out-in" >"$work/in.list"
[ -s "$work/host.list" ] || fail "no pictures outside"
diff "$work/host.list" "$work/in.list" >"$work/names.diff" || { cat "$work/names.diff"; fail "the picture names differ (< outside, > inside)"; }
same=0
while read -r p; do
  [ -f "$work/out-in/$p" ] || continue
  if cmp -s "$work/out-host/$p" "$work/out-in/$p"; then same=$((same + 1)); else fail "$p differs"; fi
done <"$work/host.list"
echo "$same of $(wc -l <"$work/host.list") pictures byte-identical"
if [ $failures -gt 0 ]; then
  # Different pictures from the same program mean different fonts or office suite versions.
  for side in host in; do
    echo "fonts drawn ($side): $(grep -oE '"(drawn_with|fallback)": [^,}]*' "$work/$side.json" | sort | uniq -c | tr -s ' \n' ' ')"
  done
  echo "LibreOffice outside: $(dpkg-query -W -f='${Version} ' libreoffice-core-nogui libreoffice-core 2>/dev/null)"
fi
# The pictures were written by the image's own user, not by root.
owner=$(stat -c %u "$work/out-in/$(head -1 "$work/in.list")" 2>/dev/null)
[ "$(id -u)" -ne 0 ] || [ "$owner" = 10001 ] || fail "pictures in the container were written by uid $owner, not 10001"

# The entry point: pagesnap-batch with the arguments alone or when named first.
version=$("$build/bin/pagesnap-batch" --version 2>&1 | head -1)
for args in "--version" "pagesnap-batch --version"; do
  said=$(podman run --rm --network none --read-only "$image" $args 2>&1 | head -1)
  [ "$said" = "$version" ] || fail "'$args' in the container said '$said', not '$version'"
done
# pagesnap-serve when named first, as users start it (the package holds it when it was built).
if [ -x "$build/bin/pagesnap-serve" ]; then
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  doc=Headers.docx first=Headers_1.png
  box=$(podman run -d --rm --network host --read-only -v "$work/docs:/in:ro" "$image" \
        pagesnap-serve --listen "127.0.0.1:$port" -j 1)
  for _ in $(seq 120); do curl -fs "http://127.0.0.1:$port/readyz" >/dev/null && break; sleep 1; done
  curl -fs -o "$work/served.png" -H 'Content-Type: application/octet-stream' --data-binary "@$work/docs/$doc" \
    "http://127.0.0.1:$port/v1/convert?pages=1&filename=$doc" || fail "pagesnap-serve in the container did not convert $doc"
  cmp -s "$work/served.png" "$work/out-host/$first" || fail "pagesnap-serve's page 1 of $doc differs from $first outside"
  podman stop -t 150 "$box" >/dev/null 2>&1
else
  echo "pagesnap-serve not built: its entry point not tried"
fi

[ $failures -eq 0 ] && echo "container checks passed" || echo "$failures check(s) failed"
[ $failures -eq 0 ]
