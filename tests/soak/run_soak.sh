#!/usr/bin/env bash
# run_soak.sh SOAK_EXE FRAMES desktop|headset|openxr [MAX_GROWTH_MB]
# Runs the viewer (quenlor_soak) on its own Xvfb server for FRAMES frames with the motion playing
# (P), face tracking (E) and the bone overlay (B) on, while this driver mixes real key and mouse
# input in through xdotool: walking, turning, eye height, light steps, mouse look, double clicks
# and multisampling toggles; the default character's physics runs throughout, switched off and on
# again now and then (X, a reset each time). The verdict is the soak program's exit status and
# summary line.
set -euo pipefail
exe=$1 frames=$2 mode=$3 growth=${4:-16}
if [ -z "${QUENLOR_SOAK_INNER:-}" ]; then
  export QUENLOR_SOAK_INNER=1
  exec xvfb-run -a -s "-screen 0 ${QUENLOR_SOAK_SCREEN:-640x360}x24" "$0" "$@"
fi
if [ "$mode" = headset ]; then export HMD_RUNTIME_DEVICE=simulated,low-res; else unset HMD_RUNTIME_DEVICE; fi
# OpenXR: the test runtime (QUENLOR_SOAK_XR_RUNTIME_JSON names its manifest) through the loader.
if [ "$mode" = openxr ]; then export XR_RUNTIME_JSON=$QUENLOR_SOAK_XR_RUNTIME_JSON; else unset XR_RUNTIME_JSON; fi

"$exe" "$frames" "$growth" &
pid=$!
xdo() { xdotool "$@" >/dev/null 2>&1 || true; }

# The window, once frames run (its caption starts with "Pos: ").
win=""
for _ in $(seq 1 600); do
  kill -0 "$pid" 2>/dev/null || break
  for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    case "$(xdotool getwindowname "$id" 2>/dev/null)" in Pos:*) win=$id ;; esac
  done
  [ -n "$win" ] && break
  sleep 0.1
done
if [ -z "$win" ]; then
  echo "soak: no viewer window appeared" >&2
  kill "$pid" 2>/dev/null || true
  wait "$pid" || true
  exit 1
fi

xdo windowfocus --sync "$win"
eval "$(xdotool getwindowgeometry --shell "$win")"
cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
# Motion, face tracking and bone overlay on (each toggles on key release).
xdo key --delay 100 p e b

# Mixed input until the viewer quits by itself after its frames; deterministic sequence.
step=0
while kill -0 "$pid" 2>/dev/null; do
  case $((step % 12)) in
    0) xdo keydown w; sleep 0.3; xdo keyup w ;;
    1) xdo mousemove --sync "$cx" "$cy"; xdo mousemove_relative -- 40 -10 ;;
    2) xdo keydown shift keydown s; sleep 0.2; xdo keyup s keyup shift ;;
    3) xdo key Left Left Right ;;
    4) xdo mousemove_relative -- -60 15 ;;
    5) xdo keydown a; sleep 0.2; xdo keyup a; xdo keydown d; sleep 0.2; xdo keyup d ;;
    6) xdo keydown 6; sleep 0.2; xdo keyup 6; xdo keydown 5; sleep 0.2; xdo keyup 5 ;;
    7) xdo keydown Up; sleep 0.2; xdo keyup Up; xdo keydown Down; sleep 0.2; xdo keyup Down ;;
    8) xdo click --repeat 2 --delay 50 1 ;;
    9) xdo key m x; sleep 0.5; xdo key m x ;;
    10) xdo mousemove_relative -- 20 20 ;;
    11) xdo key r ;;
  esac
  step=$((step + 1))
  sleep 0.5
done
wait "$pid"
