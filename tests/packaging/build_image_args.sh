#!/usr/bin/env bash
# packaging/container/build-image.sh takes its path arguments (the build folder or package,
# --cache, --tar, a --mirror sources file) from the folder it was started in, as its README's
# build command gives them: relative, from the project's root. cpack, mmdebstrap and podman are
# stand-ins here that record what they were given (cpack makes a small folium-converter
# package, mmdebstrap runs the hook that installs the entry point into a folder), so this
# needs neither root nor the network.
# Usage: build_image_args.sh SOURCE_DIR
set -uo pipefail
src=$(cd "$1" && pwd)
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is missing"; exit 77; }
work=$(mktemp -d /tmp/folium-image-args-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/bin" "$work/proj/build" "$work/proj/out"
touch "$work/proj/build/CPackConfig.cmake"
echo "deb http://deb.debian.org/debian bookworm main" >"$work/proj/sources.list"
cat >"$work/bin/cpack" <<'EOF'
#!/usr/bin/env bash
# cpack -G DEB --config FILE -B DIR: a package named as the real one.
while [ $# -gt 0 ]; do case $1 in --config) config=$2; shift 2 ;; -B) out=$2; shift 2 ;; *) shift ;; esac; done
[ -f "$config" ] || { echo "cpack stand-in: no $config" >&2; exit 1; }
mkdir -p "$out" "$out/root/DEBIAN"
printf 'Package: folium-converter\nVersion: 1.0.0\nArchitecture: all\nMaintainer: test <t@example.org>\nDescription: test\n' \
  >"$out/root/DEBIAN/control"
dpkg-deb --build "$out/root" "$out/folium-converter_1.0.0_all.deb" >/dev/null
EOF
cat >"$work/bin/mmdebstrap" <<EOF
#!/usr/bin/env bash
# Records its arguments; writes the root file system's tarball where it is told to, after
# running the entry point's hook (a shell hook, given the root folder as \$1) into a folder.
printf '%s\n' "\$@" >"$work/mmdebstrap.args"
root=$work/root
mkdir -p "\$root/usr/local/bin"
for a in "\$@"; do
  case \$a in --customize-hook=*pagesnap-entrypoint*) sh -c "\${a#--customize-hook=}" exec "\$root" || exit 1 ;; esac
done
prev=
for a in "\$@"; do
  [ "\$prev" = bookworm ] && { echo rootfs >"\$a" || exit 1; }
  prev=\$a
done
EOF
cat >"$work/bin/podman" <<EOF
#!/usr/bin/env bash
printf '%s\n' "\$@" >"$work/podman.args"
echo 0123456789ab
EOF
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH"

# As the README gives it, from the project's root, all paths relative.
(cd "$work/proj" && bash "$src/packaging/container/build-image.sh" --cache build/debs --tar out/rootfs.tar \
   --mirror sources.list build) >"$work/run.log" 2>&1 || { cat "$work/run.log"; fail "build-image.sh with relative paths"; }
[ -d "$work/proj/build/debs" ] || fail "--cache build/debs was not made in the folder the script was started in"
[ -f "$work/proj/out/rootfs.tar" ] || fail "--tar out/rootfs.tar was not written in the folder the script was started in"
grep -qxF "$work/proj/sources.list" "$work/mmdebstrap.args" 2>/dev/null ||
  fail "mmdebstrap was not given the sources file by its full path: $(tr '\n' ' ' 2>/dev/null <"$work/mmdebstrap.args")"
grep -qxF -- "--setup-hook=sync-in $work/proj/build/debs /var/cache/apt/archives/" "$work/mmdebstrap.args" 2>/dev/null ||
  fail "the cache reached mmdebstrap's hooks by another path"
cmp -s "$src/packaging/container/entrypoint.sh" "$work/root/usr/local/bin/pagesnap-entrypoint" &&
  [ -x "$work/root/usr/local/bin/pagesnap-entrypoint" ] || fail "the entry point was not installed as an executable"
tail -1 "$work/run.log" | grep -qx 0123456789ab || fail "the image's id is not the last line: $(tail -1 "$work/run.log")"

# A package by a relative path, from another folder; a folder that is no build folder.
cpack --config "$work/proj/build/CPackConfig.cmake" -B "$work/pkg" && mv "$work/pkg/"*.deb "$work/proj/pkg.deb"
(cd "$work/proj/build/debs" && bash "$src/packaging/container/build-image.sh" ../../pkg.deb) >"$work/run2.log" 2>&1 ||
  { cat "$work/run2.log"; fail "a package by a relative path"; }
mkdir -p "$work/proj/not-a-build"
if (cd "$work/proj" && bash "$src/packaging/container/build-image.sh" not-a-build) >"$work/run3.log" 2>&1; then
  fail "a folder with no CPackConfig.cmake was taken as a build folder"
fi

[ $failures -eq 0 ] && echo "build-image.sh argument checks passed" || echo "$failures check(s) failed"
[ $failures -eq 0 ]
