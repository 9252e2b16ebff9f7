#!/bin/sh
# The main job, on screen: a morning of Windows sign-ins through KvCredProv.dll under Wine.
#
#   windows-morning.sh <windows build dir> <cloudsim executable> <run dir> <screenshots dir>
#
# 1. the cloud simulator on loopback with tools/cloudsim/fixtures/demo.json and a test CA of
#    this run, trusted in the host store (WinHTTP under Wine reads only that) until the end;
# 2. a fresh Wine prefix (<run dir>/prefix) installed as an installer would: the sealed install
#    configuration (installcfg), the deployment values and "Log" = "enabled" under the agent's
#    key, the DLL in Program Files with its class registrations and Credential Providers /
#    Filters keys (installcfg register), and stand-ins for Windows' own providers;
# 3. kvmorning: the LogonUI stand-in signs five people in through the DLL while the MFA dialog
#    is driven as a person would; the network is cut (the simulator is stopped: every
#    connection to the service is refused) and brought back (started again on its port) when
#    the morning asks for it.
# The display is the one of KV_DISPLAY_FILE (a CTest fixture), else an Xvfb of this run.
# Everything started here is stopped and the CA removed from the host store on every exit.
set -eu
[ $# -eq 4 ] || { echo "usage: $0 <windows build dir> <cloudsim executable> <run dir> <screenshots dir>" >&2; exit 2; }
src="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$(cd "$1/bin" && pwd)"
cloudsim="$2"
mkdir -p "$3" "$4"
run="$(cd "$3" && pwd -P)"
shots="$(cd "$4" && pwd -P)"
fixture="$src/tools/cloudsim/fixtures/demo.json"
prefix="$run/prefix"
# One name per run folder: a rerun replaces its own CA, never another run's.
store="kv-demo-$(printf %s "$run" | md5sum | cut -c1-12)"
export KV_WINEPREFIX="$prefix" LC_ALL=en_US.UTF-8
own_display=0
morning=""

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }
wine_run() { sh "$src/cmake/wine-run.sh" "$@"; }
# Waits for the prefix's wineserver to end (at most a minute).
wait_wine() { [ -d "$prefix" ] && WINEPREFIX="$prefix" timeout 60 wineserver -w >/dev/null 2>&1 || true; }

finish() {
  status=$?
  trap - EXIT INT TERM
  if [ -n "$morning" ] && kill -0 "$morning" 2>/dev/null; then kill "$morning" 2>/dev/null || true; fi
  wait_wine
  sh "$src/tools/cloudsim/fixture.sh" cleanup "$run/cloudsim" "$store" >/dev/null 2>&1 ||
    echo "morning: the simulator or the run's CA may be left over ($run/cloudsim)" >&2
  [ "$own_display" -eq 0 ] || sh "$src/cmake/xvfb-fixture.sh" cleanup "$run/xvfb" "$prefix" >/dev/null 2>&1 || true
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

for tool in kvmorning.exe kvlogonui.exe installcfg.exe KvCredProv.dll KvStandInProviders.dll; do
  [ -f "$bin/$tool" ] || { echo "morning: $bin/$tool is missing (build the windows preset)" >&2; exit 1; }
done
[ -x "$cloudsim" ] || { echo "morning: no simulator at $cloudsim (build the linux preset)" >&2; exit 1; }

start="$(now)"
if [ -z "${KV_DISPLAY_FILE:-}" ]; then
  sh "$src/cmake/xvfb-fixture.sh" setup "$run/xvfb" "$prefix" >"$run/xvfb.out" 2>&1 || { cat "$run/xvfb.out" >&2; exit 1; }
  own_display=1
  export KV_DISPLAY_FILE="$run/xvfb/display"
fi
echo "display    :$(cat "$KV_DISPLAY_FILE") (Xvfb, 1920x1080)"

sh "$src/tools/cloudsim/fixture.sh" setup "$run/cloudsim" "$cloudsim" "$fixture" "$store" >"$run/cloudsim.out" 2>&1 ||
  { cat "$run/cloudsim.out" >&2; exit 1; }
port="$(cat "$run/cloudsim/port")"
echo "cloud      https://localhost:$port (the simulator, fixture demo.json: alice, bob, carol, dave)"
echo "           its test CA is trusted in the host store for this run only"

# A fresh machine: a new prefix (wine-run.sh makes it on first use).
wait_wine
rm -rf "$prefix" "$prefix.lock" "$shots"/*.png "$run"/network.*
field() { sed -n "s/.*\"$1\": *\"\([^\"]*\)\".*/\1/p" "$fixture" | head -n 1; }
agent='C:\Program Files\Halvane\Pellora Agent'
wine_run "$bin/kvlogonui.exe" --install-standins >"$run/install.out" 2>&1 || { cat "$run/install.out" >&2; exit 1; }
mkdir -p "$prefix/drive_c/Program Files/Halvane/Pellora Agent"
cp "$bin/KvCredProv.dll" "$prefix/drive_c/Program Files/Halvane/Pellora Agent/"
cat >"$run/agent.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvane\\Pellora Agent]
"DesktopLogonHostPrefix"=""
"PolicyHostPrefix"=""
"DomainSuffix"=""
"Port"="$port"
"Log"="enabled"
EOF
{
  wine_run regedit /S "Z:$run/agent.reg" &&
    field integrationKey | wine_run "$bin/installcfg.exe" --region localhost --environment prod \
      --account-id "$(field accountId)" --resource-id "$(field resourceId)" --integration-key-stdin &&
    wine_run "$bin/installcfg.exe" register --dll "$agent\\KvCredProv.dll"
} >>"$run/install.out" 2>&1 || { cat "$run/install.out" >&2; exit 1; }
echo "machine    $prefix (new Wine prefix)"
echo "           $agent\\KvCredProv.dll registered (8 providers, 1 filter) with the install"
echo "           configuration of account $(field accountId), resource $(field resourceId); log switched on;"
echo "           stand-ins for Windows' own credential providers installed"
echo "           ready after $(since "$start")"

# The morning; it asks for the network to go down and up through files in the run folder.
morning_start="$(now)"
# Not through wine_run: the PID must be the program's own (wine-run.sh execs Wine).
sh "$src/cmake/wine-run.sh" "$bin/kvmorning.exe" --fixture "Z:$fixture" --port "$port" --screenshots "Z:$shots" \
  --run "Z:$run" &
morning=$!
while kill -0 "$morning" 2>/dev/null; do
  if [ -f "$run/network.request" ]; then
    want="$(tr -d '\r\n' <"$run/network.request")"
    rm -f "$run/network.request"
    case "$want" in
      down) sh "$src/tools/cloudsim/fixture.sh" stop "$run/cloudsim" ;;
      up) sh "$src/tools/cloudsim/fixture.sh" resume "$run/cloudsim" "$cloudsim" "$fixture" ;;
      *) echo "morning: unknown network request '$want'" >&2; continue ;;
    esac
    echo "$want" >"$run/network.state.tmp" && mv "$run/network.state.tmp" "$run/network.state"
  fi
  sleep 0.1
done
rc=0
wait "$morning" || rc=$?
morning=""
wait_wine
echo
echo "screenshots $shots"
echo "agent log   $run/agent-log.txt (opened)"
echo "the morning took $(since "$morning_start") (everything after the build: $(since "$start"))"
exit "$rc"
