#!/usr/bin/env bash
# Builds an OCI image of pagesnap-batch from Debian 12 packages and this project's .deb, with no
# registry but Debian's archive: mmdebstrap makes the root file system (the package, its Depends
# and nothing recommended unless listed below), podman imports it with the run configuration.
# The image runs pagesnap-batch with the arguments given, or pagesnap-serve when they begin with
# "pagesnap-serve" (entrypoint.sh beside this script).
#
# Usage: build-image.sh [options] DEB|BUILD_DIR
#   DEB                   folium-converter_*.deb; a BUILD_DIR is packaged first with cpack
#   -t, --tag NAME        image name (default localhost/pagesnap-batch:VERSION)
#   --cache DIR           keep the downloaded Debian packages here for the next build
#   --mirror SOURCES      an apt sources file or mirror URL (default: this machine's Debian
#                         sources in /etc/apt, else http://deb.debian.org/debian)
#   --tar FILE            keep the root file system tarball here
# Prints the image's id on the last line of standard output. Needs root, or a user with
# subordinate ids (/etc/subuid) for mmdebstrap's unshare mode and rootless podman.
set -euo pipefail

tag="" cache="" tar_out="" mirrors=()
while [ $# -gt 0 ]; do
  case $1 in
    -t|--tag) tag=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --mirror) mirrors+=("$2"); shift 2 ;;
    --tar) tar_out=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "build-image.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { echo "usage: build-image.sh [options] DEB|BUILD_DIR" >&2; exit 2; }
# Every path given is taken from the folder this was started in, before anything changes into
# the temporary folder: a relative one would be looked for there.
absolute() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$PWD/$1" ;; esac; }
input=$(absolute "$1")
[ -z "$cache" ] || cache=$(absolute "$cache")
[ -z "$tar_out" ] || tar_out=$(absolute "$tar_out")
for i in "${!mirrors[@]}"; do
  # A sources file; a mirror's URL or an apt line stays as it is.
  [ ! -e "${mirrors[$i]}" ] || mirrors[$i]=$(absolute "${mirrors[$i]}")
done
entrypoint=$(cd "$(dirname "$0")" && pwd)/entrypoint.sh
[ -f "$entrypoint" ] || { echo "build-image.sh: $entrypoint is missing" >&2; exit 1; }
for tool in mmdebstrap podman dpkg-deb; do
  command -v $tool >/dev/null || { echo "build-image.sh: $tool is missing (apt-get install mmdebstrap podman)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pagesnap-image-XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt inside the unshared namespace reads the package under its own ids.
chmod 755 "$work"

if [ -d "$input" ]; then
  echo "packaging $1 with cpack" >&2
  [ -f "$input/CPackConfig.cmake" ] || { echo "build-image.sh: $1 is no build folder (no CPackConfig.cmake)" >&2; exit 1; }
  (cd "$work" && cpack -G DEB --config "$input/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; echo "build-image.sh: cpack failed" >&2; exit 1; }
  deb=$(ls "$work"/out/*.deb)
else
  deb=$input
fi
[ -f "$deb" ] || { echo "build-image.sh: no package $deb" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = folium-converter ] || { echo "build-image.sh: $deb is not folium-converter" >&2; exit 1; }
version=$(dpkg-deb -f "$deb" Version)
# apt takes a local package only by a path it can read from inside the chroot as well; the
# file-mirror hook copies it in under the same path.
cp "$deb" "$work/folium-converter.deb"
chmod 644 "$work/folium-converter.deb"
[ -n "$tag" ] || tag=localhost/pagesnap-batch:$version

if [ ${#mirrors[@]} -eq 0 ]; then
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$f" ] && grep -qE '(deb\.debian\.org|debian\.org/debian|/debian(-security)?/?( |$))' "$f" && mirrors+=("$f")
  done
  [ ${#mirrors[@]} -gt 0 ] || mirrors=(http://deb.debian.org/debian)
fi
# The engine comes from Debian's bookworm-backports (Debian 12's own is too old for the package).
grep -qs '^[^#]*bookworm-backports' "${mirrors[@]}" || [[ "${mirrors[*]}" == *bookworm-backports* ]] ||
  mirrors+=("deb http://deb.debian.org/debian bookworm-backports main")

opts=(
  --variant=essential --mode=auto --format=tar
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount
  --include="$work/folium-converter.deb"
  # East Asian pages need Noto CJK and WenQuanYi Zen Hei: recommended by the package, and in the
  # image so that such documents draw as on a machine where it was installed with its
  # recommendations.
  --include=fonts-noto-cjk
  --include=fonts-wqy-zenhei
  # pagesnap-batch is not made to be process 1: the office suite leaves helpers (gpgconf, gpg)
  # whose orphans would stay zombies under it, a few for every engine start. tini reaps them and
  # hands signals and the exit status through.
  --include=tini
  # The engine and its runtime from backports; everything else from bookworm itself.
  --setup-hook='mkdir -p "$1"/etc/apt/preferences.d && printf "%s\n" "Package: libreoffice* ure ure-* libuno-* uno-libs-private fonts-opensymbol" "Pin: release n=bookworm-backports" "Pin-Priority: 990" >"$1"/etc/apt/preferences.d/engine-from-backports'
  # Only what running needs: no manuals, translations or documentation but the licences.
  --dpkgopt='path-exclude=/usr/share/man/*'
  --dpkgopt='path-exclude=/usr/share/info/*'
  --dpkgopt='path-exclude=/usr/share/locale/*'
  --dpkgopt='path-include=/usr/share/locale/locale.alias'
  --dpkgopt='path-exclude=/usr/share/doc/*'
  --dpkgopt='path-include=/usr/share/doc/*/copyright'
  --dpkgopt='path-exclude=/usr/share/lintian/*'
  --dpkgopt='path-exclude=/usr/share/bug/*'
  --aptopt='APT::Install-Recommends "false"'
  # An unprivileged user of a fixed id; HOME and TMPDIR point at /tmp, which podman keeps
  # writable (a tmpfs) when the root file system is read-only.
  --customize-hook='chroot "$1" groupadd --gid 10001 pagesnap'
  --customize-hook='chroot "$1" useradd --uid 10001 --gid 10001 --home-dir /tmp --no-create-home --shell /usr/sbin/nologin pagesnap'
  --customize-hook='mkdir -p "$1/in" "$1/out" && chown 10001:10001 "$1/out"'
  # The entry point after tini: pagesnap-serve or pagesnap-batch by the first argument.
  --customize-hook="install -m 755 '$entrypoint' \"\$1/usr/local/bin/pagesnap-entrypoint\""
  --customize-hook='rm -rf "$1"/var/cache/debconf/*-old "$1"/var/lib/dpkg/*-old "$1"/var/log/*.log "$1"/var/log/apt'
)
if [ -n "$cache" ]; then
  # mmdebstrap removes the essential packages it unpacked unless told not to; the cache is
  # filled from the chroot's archive folder before its clean-up empties it.
  mkdir -p "$cache"
  opts+=(--skip=essential/unlink
    --setup-hook='mkdir -p "$1"/var/cache/apt/archives/'
    --setup-hook="sync-in $cache /var/cache/apt/archives/"
    --customize-hook="sync-out /var/cache/apt/archives $cache")
fi

rootfs=${tar_out:-$work/rootfs.tar}
echo "bootstrapping Debian 12 with $(basename "$deb") from ${mirrors[*]}" >&2
start=$(date +%s)
mmdebstrap "${opts[@]}" bookworm "$rootfs" "${mirrors[@]}" >"$work/mmdebstrap.log" 2>&1 ||
  { tail -40 "$work/mmdebstrap.log" >&2; echo "build-image.sh: mmdebstrap failed" >&2; exit 1; }
echo "root file system: $(du -h "$rootfs" | cut -f1) in $(( $(date +%s) - start )) s" >&2

id=$(podman import -q \
  --change 'ENTRYPOINT ["/usr/bin/tini", "--", "/usr/local/bin/pagesnap-entrypoint"]' \
  --change 'CMD ["/in"]' \
  --change 'EXPOSE 8080/tcp' \
  --change 'USER 10001:10001' \
  --change 'WORKDIR /out' \
  --change 'ENV HOME=/tmp TMPDIR=/tmp LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin' \
  --change "LABEL org.opencontainers.image.version=$version" \
  --change 'LABEL org.opencontainers.image.title=pagesnap-batch' \
  --change 'LABEL org.opencontainers.image.description="Word documents into one picture per page (Folium Converter)"' \
  --change 'LABEL org.opencontainers.image.base.name=debian:bookworm' \
  "$rootfs" "$tag")
echo "image $tag ($version)" >&2
echo "$id"
