#!/usr/bin/env bash
# The whole program's start: from launching kestrune to its window mapped on an X server (a
# private Xvfb), and the resident memory of the running program with its window shown, over a
# number of runs at the receiver's real timing. The port store names the built-in virtual
# receiver SIM1; the user's own settings and lock are not touched. The server runs with -noreset:
# otherwise it resets whenever the last client leaves, and the next start could not connect.
#   bench/program_start.sh [RUNS] [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-20}"
program="${2:-}"
caption="GPS Receiver Port Settings, 1.02"

need=()
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v xwininfo >/dev/null || need+=(x11-utils)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
if [ -z "$program" ]; then
  scripts/install-deps
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_TESTS=OFF >/dev/null
  cmake --build build-bench --target kestrune >/dev/null
  program=build-bench/app/kestrune
fi

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config/Quenterra" "$home/runtime"
chmod 700 "$home/runtime"
printf 'Port=SIM1:\n' >"$home/config/Quenterra/Kestrune.conf"

cat >"$home/measure" <<'INNER'
set -euo pipefail
program=$1 runs=$2 caption=$3
# Wait for the server to take connections before the first run.
until xwininfo -root >/dev/null 2>&1; do sleep 0.05; done
for run in $(seq "$runs"); do
  start=$(date +%s%N)
  "$program" &
  pid=$!
  until xwininfo -name "$caption" 2>/dev/null | grep -q IsViewable; do
    kill -0 "$pid" 2>/dev/null || { echo "run $run: the program ended early" >&2; exit 1; }
  done
  shown=$(date +%s%N)
  sleep 1  # let it settle before reading its memory
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "$(( (shown - start) / 1000 )) $rss $hwm"
done
INNER

XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" \
  xvfb-run -a -s "-noreset -screen 0 1280x1024x24" bash "$home/measure" "$(realpath "$program")" "$runs" "$caption" >"$home/runs"

sort -n "$home/runs" | awk -v runs="$runs" '
  { us[NR] = $1; rss += $2; hwm = ($3 > hwm ? $3 : hwm) }
  END {
    printf "runs: %d\n", NR
    printf "launch to window mapped: median %.1f ms, fastest %.1f ms, slowest %.1f ms\n",
           us[int((NR + 1) / 2)] / 1000, us[1] / 1000, us[NR] / 1000
    printf "resident memory with the window shown: VmRSS mean %.0f kB, VmHWM max %d kB\n",
           rss / NR, hwm
  }'
echo "(the launch time includes polling the X server with xwininfo, a few ms per poll)"
