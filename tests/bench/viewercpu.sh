#!/bin/bash
# viewercpu.sh BUILD [SCENARIO...]: the processor time of the real viewer's
# process while it plays, read from /proc (Wine's own figures for another
# process are not to be trusted), as a share of one core, with its busiest
# threads. Run it in a Wine session of the build tree:
#   tools/with-wine-session.sh build/win64 tests/bench/viewercpu.sh build/win64
# Scenarios (all without arguments):
#   camera    the simulated camera at 640x480 and 25 pictures a second through
#             the mjpeg-http plug-in (extra camera options in DVV_CAMERA_ARGS)
#   minimised the same with the viewer minimised
#   simulated the stand-in's simulated picture, 30 events a second
# DVV_CPU_SECONDS (default 20) is how long each is measured, after 5 s of
# warm-up; with DVV_CPU_PERF=1, perf records the process meanwhile and its
# report (by library and by symbol) is printed.
set -e
build="$(cd "$1" && pwd)"; shift
scenarios="${*:-camera minimised simulated}"
seconds="${DVV_CPU_SECONDS:-20}"
WINE=/usr/lib/wine/wine64
tests="$build/tests/ui"
hz=$(getconf CLK_TCK)
winpath() { "$WINE" winepath -w "$1" 2>/dev/null; }

# The Linux process of this prefix's viewer (other prefixes may run one too).
viewer_pid() {
  for pid in $(pgrep -f 'DorsaVantixViewer\.exe'); do
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "$pid"; return; }
  done
}
# utime + stime of a /proc stat file, in clock ticks.
ticks() { sed 's/.*) //' "$1" 2>/dev/null | awk '{ print $12 + $13 }'; }

measure() {
  local name="$1" pid="$2"
  declare -A before
  local t0 t1 total0 total1
  for task in /proc/$pid/task/*; do before[$task]=$(ticks "$task/stat"); done
  total0=$(ticks /proc/$pid/stat); t0=$(date +%s.%N)
  [ -n "$DVV_CPU_PERF" ] && perf record -q -g -p "$pid" -o "$work/perf.data" -- sleep "$seconds" 2>/dev/null \
    || sleep "$seconds"
  total1=$(ticks /proc/$pid/stat); t1=$(date +%s.%N)
  awk -v n="$name" -v d="$((total1 - total0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%-34s %5.1f%% of one core over %.1f s\n", n, 100 * d / hz / (t1 - t0), t1 - t0 }'
  for task in /proc/$pid/task/*; do
    [ -n "${before[$task]}" ] || continue
    echo "$(( $(ticks "$task/stat") - before[$task] )) $(cat "$task/comm" 2>/dev/null) ${task##*/}"
  done | sort -rn | head -4 | awk -v hz="$hz" -v s="$seconds" '$1 > 0 { printf "    thread %-8s %-18s %5.1f%%\n", $3, $2, 100 * $1 / hz / s }'
  if [ -n "$DVV_CPU_PERF" ] && [ -f "$work/perf.data" ]; then
    local report="perf report -i $work/perf.data --no-children --stdio -g none"
    $report --sort tid,dso 2>/dev/null | grep -v '^#' | grep -v '^$' | head -16
    $report --sort dso,sym 2>/dev/null | grep -v '^#' | grep -v '^$' | head -25
  fi
}

run() {
  local name="$1" port="$2" plugins="$3"; shift 3
  local folder="$work/$name"; mkdir -p "$folder"
  "$WINE" "$tests/viewerpilot.exe" "$(winpath "$folder")" "$port" "$(winpath "$plugins")" "$@" >/dev/null
  local pid; pid=$(viewer_pid)
  [ -n "$pid" ] || { echo "$name: the viewer is not running"; return 1; }
  sleep 5
  measure "$name" "$pid"
  "$WINE" taskkill /im DorsaVantixViewer.exe >/dev/null 2>&1 || true
  for i in $(seq 50); do [ -d "/proc/$pid" ] || break; sleep 0.2; done
}

work="$(mktemp -d)"
camera=""
cleanup() { [ -n "$camera" ] && kill "$camera" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
"$WINE" regsvr32 /s "$(winpath "$tests/dorsaviewerctl.dll")"
for scenario in $scenarios; do
  case "$scenario" in
  camera | minimised)
    port=$((20000 + RANDOM % 20000))
    mkdir -p "$work/plugins"
    printf 'url=http://{ip}:{port}/video{channel}.mjpg\n' > "$work/plugins/mjpeg-http.plugin"
    # shellcheck disable=SC2086
    "$WINE" "$build/simcamera/simcamera.exe" --port "$port" --size 640x480 --fps 25 $DVV_CAMERA_ARGS >/dev/null &
    camera=$!
    sleep 2
    if [ "$scenario" = camera ]; then
      run "camera 640x480, 25 pictures/s" "$port" "$work/plugins"
    else
      run "camera 640x480, 25/s, minimised" "$port" "$work/plugins" --minimise
    fi
    kill "$camera"; wait "$camera" 2>/dev/null || true; camera=""
    ;;
  simulated)
    mkdir -p "$work/noplugin"
    DORSA_STANDIN_EVENT_MS=33 run "simulated picture, 30 events/s" 80 "$work/noplugin"
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
  esac
done
