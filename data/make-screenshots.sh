#!/usr/bin/env bash
# Makes the screenshots of the software-centre entry (data/screenshots/browser.png and
# viewer.png): the program as built in BUILD_DIR, on a folder of pictures drawn here, on an Xvfb
# screen managed by openbox, with settings of its own so that nothing of the user's is shown or
# changed.
#   data/make-screenshots.sh [BUILD_DIR]      (default build/)
# Needs xvfb, openbox, xdotool and ImageMagick. QMT_SHOT_DISPLAY picks the display (:91).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
display=${QMT_SHOT_DISPLAY:-:91}
IM=/usr/bin/convert
for tool in Xvfb openbox xdotool import "$IM"; do
  command -v "$tool" >/dev/null || { echo "make-screenshots.sh: $tool is missing" >&2; exit 1; }
done
[ -x "$build/qmt" ] || { echo "make-screenshots.sh: $build/qmt is missing; build first" >&2; exit 1; }

# The window shows the folder's path: where the system allows it, the run gets a mount namespace
# of its own with an empty /home, so that the pictures are in an ordinary home folder.
if [ -z "${QMT_SHOT_INSIDE:-}" ] &&
   unshare --mount --map-root-user --fork true 2>/dev/null; then
  exec unshare --mount --map-root-user --fork env QMT_SHOT_INSIDE=1 \
    sh -c 'mount -t tmpfs -o mode=755 none /home && exec "$0" "$@"' "$0" "$build"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A home of its own: settings, thumbnails and the runtime folder (the single-instance lock), so
# that the folder tree shows the pictures under "Home" and nothing of the machine's.
if [ -n "${QMT_SHOT_INSIDE:-}" ]; then export HOME=/home/alex; else export HOME=$work/home; fi
export QMT_REGISTRY_DIR=$HOME/.config/pictavo/registry XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache XDG_RUNTIME_DIR=$work/runtime
export DISPLAY=$display
mkdir -p "$QMT_REGISTRY_DIR" "$XDG_RUNTIME_DIR" "$HOME/Desktop" "$HOME/Documents" "$HOME/Music"
chmod 700 "$XDG_RUNTIME_DIR"
# Windowed viewer, smoothed display; the types count as associated so that no question comes up.
cat > "$QMT_REGISTRY_DIR/HKEY_LOCAL_MACHINE.reg" <<'EOF'
[HKEY_LOCAL_MACHINE\SOFTWARE\Karvendel\Pictavo Settings]
"FullScreen"="0"
"AntiAlias"="-1"
EOF

# The pictures: landscapes of sky, hills and sun in a few moods, and two sub-folders.
pictures=$HOME/Pictures/Holidays
mkdir -p "$pictures/Mountains" "$pictures/Sea"
landscape() { # NAME SKY_TOP SKY_BOTTOM HILLS_A HILLS_B SUN SEED
  "$IM" -size 1120x580 "gradient:$2-$3" \
    \( -size 1120x300 -seed "$7" "plasma:$4-$5" -blur 0x3 \
       \( -size 1120x300 xc:black -fill white -draw "path 'M 0,300 L 0,120 C 240,30 390,40 600,135 C 770,210 910,85 1120,105 L 1120,300 Z'" \) \
       -alpha off -compose copy-opacity -composite \) \
    -gravity south -compose over -composite \
    -fill "$6" -draw "circle 840,140 840,185" -quality 90 "$pictures/$1.jpg"
}
landscape "Alpine morning" '#3b82f6' '#dbeafe' '#166534' '#86efac' '#fde047' 11
landscape "Autumn valley" '#f97316' '#fde68a' '#7c2d12' '#d97706' '#fef3c7' 12
landscape "Blue hour" '#1e1b4b' '#818cf8' '#1e3a8a' '#312e81' '#e0e7ff' 13
landscape "Coast at noon" '#0ea5e9' '#e0f2fe' '#065f46' '#34d399' '#fef9c3' 14
landscape "Desert evening" '#9a3412' '#fdba74' '#78350f' '#fbbf24' '#fff7ed' 15
landscape "Forest rain" '#475569' '#cbd5e1' '#14532d' '#4ade80' '#f1f5f9' 16
landscape "Meadow" '#38bdf8' '#f0f9ff' '#3f6212' '#bef264' '#facc15' 17
landscape "Winter light" '#94a3b8' '#f8fafc' '#e2e8f0' '#64748b' '#fefce8' 18

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
openbox >/dev/null 2>&1 & pids+=($!)
sleep 1

# Waits for the largest visible window of process $1 whose name matches $2; prints its id. The
# splash screen comes and goes first.
wait_window() {
  sleep 3
  for _ in $(seq 100); do
    best= area=0
    for id in $(xdotool search --onlyvisible --pid "$1" --name "$2" 2>/dev/null); do
      WIDTH=0 HEIGHT=0
      geometry=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null) || continue
      eval "$geometry"
      if [ $((WIDTH * HEIGHT)) -gt "$area" ]; then best=$id area=$((WIDTH * HEIGHT)); fi
    done
    [ -n "$best" ] && [ "$area" -gt 40000 ] && { echo "$best"; return 0; }
    sleep 0.2
  done
  echo "make-screenshots.sh: no window \"$2\"" >&2
  return 1
}

shoot() { # WINDOW OUT
  import -window "$1" "$work/shot.png"
  "$IM" "$work/shot.png" -strip "$2"
}

mkdir -p "$here/screenshots"

# The browser on the folder, the first picture (the third item) selected and previewed, zoomed
# out to fit the preview.
"$build/qmt" "$pictures" >/dev/null 2>&1 & qmt=$!; pids+=($qmt)
browser=$(wait_window "$qmt" "Lumisk")
xdotool windowmove "$browser" 40 40 windowsize "$browser" 1280 720
sleep 3
xdotool windowactivate --sync "$browser" 2>/dev/null || true
click() { xdotool mousemove --window "$browser" $(($1 * 1280 / 1000)) $(($2 * 720 / 1000)) click 1; }
click 513 200 # the third thumbnail
sleep 1
for _ in 1 2 3 4 5; do click 794 907; sleep 0.4; done # Zoom Out
xdotool mousemove --window "$browser" 700 900
sleep 2
shoot "$browser" "$here/screenshots/browser.png"
kill "$qmt"; wait "$qmt" 2>/dev/null || true

# The viewer on one picture.
"$build/qmt" "$pictures/Alpine morning.jpg" >/dev/null 2>&1 & qmt=$!; pids+=($qmt)
viewer=$(wait_window "$qmt" "Alpine morning")
xdotool windowmove "$viewer" 40 40 windowsize "$viewer" 1280 720
sleep 3
shoot "$viewer" "$here/screenshots/viewer.png"
kill "$qmt"; wait "$qmt" 2>/dev/null || true
echo "made $here/screenshots/browser.png and viewer.png"
