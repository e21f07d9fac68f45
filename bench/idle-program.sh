#!/usr/bin/env bash
# The idle program: starts the built program (no session, nobody signed in, the mouse still) on a
# virtual display, lets it settle, then prints its CPU use (all threads, percent of one core) and
# its largest resident size over the next SECONDS (default 60):
#   scripts/with-test-services bench/idle-program.sh build/release/Tovrick/tovrick [SECONDS]
set -euo pipefail
program=$(realpath "$1")
seconds=${2:-60}
home=$(mktemp -d /tmp/tovrick-idle.XXXXXX)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }

HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=xcb \
  DBUS_SESSION_BUS_ADDRESS=disabled: "$(dirname "$0")/../scripts/in-test-netns" "$program" >"$home/log" 2>&1 &
pid=$!
sleep 5
start=$(cpu)
peak=$(rss)
for _ in $(seq 1 "$seconds"); do
  sleep 1
  now=$(rss)
  [ "$now" -gt "$peak" ] && peak=$now
done
used=$(( $(cpu) - start ))
awk -v used="$used" -v ticks="$ticks" -v seconds="$seconds" -v peak="$peak" 'BEGIN {
  printf "idle program over %d s: CPU %.2f%% of one core, peak resident %.1f MB\n",
         seconds, 100 * used / ticks / seconds, peak / 1024 }'
