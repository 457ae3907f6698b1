#!/bin/bash
# thumbnails.sh DIR - how fast the explorer lists a folder of photographs, next to the tools a
# Linux user knows. In one run, with the files already in the page cache, it times:
#   cold   qmt-bench explore --no-cache DIR   (every thumbnail made from its file)
#   warm   qmt-bench explore DIR, a second time over a thumbnail cache the first run filled
#   vips   vipsthumbnail -s 140 over the same images into a temporary folder (xargs -P2)
#   floor  djpeg -scale 1/8 of every JPEG to /dev/null on both cores (xargs -P2)
# and prints the figures and their ratios. Then a large folder: HUGE pictures (default 20000; 0
# leaves it out) that are hard links of 40 camera-like 1024x768 JPEGs made from DIR's JPEGs, and
# HUGE hard links of 40 small 160x120 JPEGs; each is listed cold next to a folder of 200 of the
# same files, for the time per picture, the longest stall and the peak memory.
# Installs libvips-tools and libjpeg-turbo-progs when they are missing. QMT_BENCH overrides the
# path of qmt-bench (default: build/qmt-bench).
set -euo pipefail

DIR=${1:?usage: bench/thumbnails.sh DIR}
DIR=$(cd "$DIR" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH=${QMT_BENCH:-$ROOT/build/qmt-bench}
JOBS=${JOBS:-2}

need=()
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
command -v djpeg >/dev/null || need+=(libjpeg-turbo-progs)
if ((${#need[@]})); then
  SUDO=; ((EUID == 0)) || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
[[ -x $BENCH ]] || { echo "qmt-bench not found at $BENCH: build it first (cmake --build build --target qmt-bench)" >&2; exit 1; }

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# The files the explorer lists (no hidden ones), and the JPEGs among them.
find "$DIR" -maxdepth 1 -type f ! -name '.*' -iregex '.*\.\(jpe?g\|png\|gif\|bmp\|tiff?\|tga\)' -print0 | sort -z >"$TMP/images"
find "$DIR" -maxdepth 1 -type f ! -name '.*' -iregex '.*\.jpe?g' -print0 | sort -z >"$TMP/jpegs"
count=$(tr -cd '\0' <"$TMP/images" | wc -c)
jpegs=$(tr -cd '\0' <"$TMP/jpegs" | wc -c)
((count > 0)) || { echo "no images in $DIR" >&2; exit 1; }

# Everything read once so that every run finds the files in the page cache.
xargs -0 cat <"$TMP/images" >/dev/null

source "$ROOT/bench/lib.sh"

echo "folder: $DIR ($count images, $jpegs JPEGs, $(nproc) cores)"

cold=$(explore --no-cache "$DIR")
cold_ms=$(field complete_ms "$cold")
# The longest stall, with the longest wait the machine imposed on a thread that only sleeps and
# the most processor time the program's own work took between two turns of its event loop.
stall() { echo "longest stall $(field longest_stall_ms "$1") ms (machine $(field machine_stall_ms "$1") ms, own work $(field busiest_stall_cpu_ms "$1") ms)"; }
echo "cold listing:   ${cold_ms} ms (process $(field process_ms "$cold") ms), placeholders $(field placeholders_ms "$cold") ms," \
     "$(stall "$cold"), peak RSS $(field peak_rss_mb "$cold") MB"

mkdir -p "$TMP/cache"
XDG_CACHE_HOME=$TMP/cache explore "$DIR" >/dev/null # fills the cache
warm=$(XDG_CACHE_HOME=$TMP/cache explore "$DIR")
warm_ms=$(field complete_ms "$warm")
echo "warm listing:   ${warm_ms} ms, placeholders $(field placeholders_ms "$warm") ms," \
     "$(stall "$warm"), peak RSS $(field peak_rss_mb "$warm") MB"

mkdir -p "$TMP/vips"
t0=$(now_ms)
xargs -0 -P"$JOBS" -n 8 vipsthumbnail -s 140 -o "$TMP/vips/%s.jpg" <"$TMP/images" 2>/dev/null || true
t1=$(now_ms); vips_ms=$((t1 - t0))
echo "vipsthumbnail:  ${vips_ms} ms"

floor_ms=0
if ((jpegs > 0)); then
  t0=$(now_ms)
  xargs -0 -P"$JOBS" -n 1 djpeg -scale 1/8 -outfile /dev/null <"$TMP/jpegs" 2>/dev/null || true
  t1=$(now_ms); floor_ms=$((t1 - t0))
  echo "decode floor:   ${floor_ms} ms (djpeg -scale 1/8, $JOBS at a time)"
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
echo "cold / floor:   $(ratio "$cold_ms" "$floor_ms")   (target <= 1.15)"
echo "cold / vips:    $(ratio "$cold_ms" "$vips_ms")"
echo "warm / cold:    $(ratio "$warm_ms" "$cold_ms")   (target <= 0.10)"

HUGE=${HUGE:-20000}
((HUGE > 0 && jpegs > 0)) || exit 0
# make_folder NAME SIZE COUNT: COUNT hard links of 40 JPEGs of SIZE made from DIR's JPEGs.
make_folder() {
  local base=$TMP/$1-base folder=$TMP/$1-$3
  mkdir -p "$base" "$folder"
  if [[ -z $(ls -A "$base") ]]; then
    head -z -n 40 "$TMP/jpegs" | xargs -0 -P"$JOBS" -I{} sh -c \
      '/usr/bin/convert "$1" -strip -resize "$2!" -quality 88 "$3/$(basename "$1" | tr A-Z a-z)"' _ {} "$2" "$base"
  fi
  python3 - "$base" "$folder" "$3" <<'PY'
import os, sys
base, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
sources = sorted(os.path.join(base, n) for n in os.listdir(base))
for i in range(count):
    os.link(sources[i % len(sources)], os.path.join(folder, "p%06d.jpg" % i))
PY
  echo "$folder"
}
for kind in camera:1024x768 small:160x120; do
  name=${kind%%:*} size=${kind#*:}
  few=$(make_folder "$name" "$size" 200)
  many=$(make_folder "$name" "$size" "$HUGE")
  small=$(explore --no-cache "$few")
  large=$(explore --no-cache "$many")
  per_few=$(awk -v t="$(field complete_ms "$small")" 'BEGIN { printf "%.2f", t / 200 }')
  per_many=$(awk -v t="$(field complete_ms "$large")" -v n="$HUGE" 'BEGIN { printf "%.2f", t / n }')
  echo "$HUGE $name pictures ($size): cold $(field complete_ms "$large") ms," \
       "placeholders $(field placeholders_ms "$large") ms, listed $(field listed_ms "$large") ms," \
       "$(stall "$large"), peak RSS $(field peak_rss_mb "$large") MB," \
       "kept $(field kept_pictures "$large") thumbnails"
  echo "  per picture: $per_many ms against $per_few ms on 200: ratio $(ratio "$per_many" "$per_few")" \
       "(target <= 1.00); peak RSS / 300 MB: $(ratio "$(field peak_rss_mb "$large")" 300);" \
       "stall / 50 ms: $(ratio "$(field longest_stall_ms "$large")" 50)"
  rm -rf "$many"
done
