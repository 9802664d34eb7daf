#!/usr/bin/env bash
# The example systemd units as shipped: systemd takes every line (systemd-analyze verify, with
# the program replaced by one that exists here), both keep the sandbox, neither sets what would
# take the engines' namespaces away, and pagesnap-serve's unit lets requests in flight finish
# on SIGTERM and comes back after a failure. Every failed check is printed.
# Usage: check_units.sh SOURCE_DIR
set -uo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/folium-units-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for unit in "$src"/packaging/systemd/*.service; do
  name=$(basename "$unit")
  if command -v systemd-analyze >/dev/null; then
    sed -E 's|/usr/bin/pagesnap-[a-z]+|/bin/true|' "$unit" >"$work/$name"
    said=$(cd "$work" && systemd-analyze verify --man=no "$name" 2>&1) || fail "$name: systemd-analyze verify: $said"
    [ -z "$said" ] || fail "$name: systemd-analyze verify: $said"
  fi
  for want in DynamicUser=yes ProtectHome=yes PrivateTmp=yes ProtectSystem=strict; do
    grep -qx "$want" "$unit" || fail "$name lacks $want"
  done
  # Each engine makes user, network, mount and process namespaces and mounts its own /proc in
  # them. These forbid the namespaces or the mounts, or cover parts of /proc (after which the
  # kernel refuses a user namespace a /proc of its own): the engines would run without them.
  for never in RestrictNamespaces SystemCallFilter ProtectKernelTunables ProtectKernelLogs ProtectProc ProcSubset; do
    grep -q "^$never=" "$unit" && fail "$name sets $never=, which takes the engines' namespaces away"
  done
  # LibreOffice's UNO bridge makes code at run time.
  grep -q '^MemoryDenyWriteExecute=yes' "$unit" && fail "$name sets MemoryDenyWriteExecute=yes, which stops the engine"
done

serve=$src/packaging/systemd/folium-serve.service
value() { sed -n "s/^$1=//p" "$serve" | tail -1; }
exec_start=$(value ExecStart)
[[ "$exec_start" == /usr/bin/pagesnap-serve\ * ]] || fail "folium-serve.service does not start /usr/bin/pagesnap-serve: $exec_start"
[[ "$exec_start" == *" --listen "* ]] || fail "folium-serve.service does not say where to listen"
timeout=$(sed -nE 's/.* (-t|--timeout) ([0-9]+).*/\2/p' <<<"$exec_start")
stop=$(value TimeoutStopSec)
[[ "$stop" =~ ^[0-9]+$ ]] && [ "$stop" -gt "${timeout:-120}" ] ||
  fail "folium-serve.service: TimeoutStopSec=$stop is not above the conversion timeout (${timeout:-120} s)"
[ "$(value KillSignal)" = SIGTERM ] || fail "folium-serve.service: KillSignal is not SIGTERM"
[ "$(value Restart)" = on-failure ] || fail "folium-serve.service: Restart is not on-failure"
families=" $(value RestrictAddressFamilies) "
for f in AF_UNIX AF_INET AF_INET6; do
  [[ "$families" == *" $f "* ]] || fail "folium-serve.service: RestrictAddressFamilies lacks $f"
done

[ $failures -eq 0 ] && echo "unit checks passed" || echo "$failures check(s) failed"
[ $failures -eq 0 ]
