#!/usr/bin/env bash
# Decode speed against the reference tools, on the same files in one run:
#   full-size JPEG            qmt-imgtool decode --time   vs  djpeg
#   1/8 reduced JPEG          qmt-imgtool --size W        vs  djpeg -scale 1/8
#   PSD, PCX, TGA, TIF        qmt-imgtool decode --time   vs  ImageMagick convert (to an in-memory null)
# One line per case: our milliseconds, theirs, and the ratio ours/theirs (below 1 is faster).
# Our time is the decode alone (printed by --time); theirs is the whole tool run, whose start-up
# is measured once on a 1x1 file and subtracted. Every figure is the median of RUNS runs.
#
#   bench/decode.sh [BUILD_DIR] [CORPUS_DIR]
# BUILD_DIR defaults to build/, CORPUS_DIR to bench/corpus (made by make-photo-corpus.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
corpus=${2:-$here/corpus}
runs=${RUNS:-5}
tool=$build/qmt-imgtool
IM=/usr/bin/convert

need=()
command -v djpeg >/dev/null || need+=(libjpeg-turbo-progs)
[ -x "$IM" ] || need+=(imagemagick)
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi
[ -x "$tool" ] || { echo "decode.sh: $tool is missing; build the qmt-imgtool target first" >&2; exit 1; }

photos=$corpus/photos
if ! ls "$photos"/*.JPG >/dev/null 2>&1 && ! ls "$photos"/*.jpg >/dev/null 2>&1; then
  echo "decode.sh: no photos in $photos; run /work/shared/bench/make-photo-corpus.sh $corpus" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Four photos of the corpus (the first ones by name, so runs are comparable).
mapfile -t jpegs < <(ls "$photos"/*.[Jj][Pp][Gg] | sort | head -4)
# The other formats, made from the first two photos at 4000 pixels wide.
others=()
for i in 0 1; do
  base=$work/photo$i
  "$IM" "${jpegs[$i]}" -resize 4000x "$base.png"
  "$IM" "$base.png" -compress RLE "$base.psd"
  "$IM" "$base.png" "$base.pcx"
  "$IM" "$base.png" -compress RLE "$base.tga"
  "$IM" "$base.png" -compress lzw "$base.tif"
  others+=("$base.psd" "$base.pcx" "$base.tga" "$base.tif")
done
"$IM" -size 1x1 xc:gray "$work/tiny.ppm"

now_ms() { date +%s%N | awk '{printf "%.3f", $1/1e6}'; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Wall time of a command, in milliseconds.
timed() {
  local t0 t1
  t0=$(now_ms); "$@" >/dev/null 2>&1; t1=$(now_ms)
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f\n", b-a}'
}
ours() { # FILE [--size W]
  local f=$1; shift
  for _ in $(seq "$runs"); do
    "$tool" decode "$f" - "$@" --time 2>/dev/null | sed -n 's/^decode_ms=\([0-9.]*\).*/\1/p'
  done | median
}
theirs() { # startup-ms COMMAND...
  local startup=$1; shift
  for _ in $(seq "$runs"); do timed "$@"; done | median | awk -v s="$startup" '{v=$1-s; if (v<0.001) v=0.001; printf "%.3f\n", v}'
}
line() { # CASE FILE OURS THEIRS
  awk -v c="$1" -v f="$(basename "$2")" -v o="$3" -v t="$4" \
    'BEGIN {printf "%-22s %-22s ours %9.1f ms  theirs %9.1f ms  ratio %.2f\n", c, f, o, t, o/t}'
}

djpeg_start=$(for _ in $(seq "$runs"); do timed djpeg -outfile /dev/null "$work/tiny.ppm"; done | median)
im_start=$(for _ in $(seq "$runs"); do timed "$IM" "$work/tiny.ppm" null:; done | median)
echo "tool start-up subtracted: djpeg ${djpeg_start} ms, convert ${im_start} ms; median of $runs runs"

sum_ours=0; sum_theirs=0
for f in "${jpegs[@]}"; do
  o=$(ours "$f"); t=$(theirs "$djpeg_start" djpeg -outfile /dev/null "$f")
  line "jpeg full" "$f" "$o" "$t"
done
for f in "${jpegs[@]}"; do
  # The size that libjpeg's 1/8 scale gives (rounded up), asked as the target box.
  read -r w h < <(/usr/bin/identify -format '%w %h\n' "$f" | head -1)
  w=$(( (w + 7) / 8 )); h=$(( (h + 7) / 8 ))
  size=$(( w > h ? w : h ))
  o=$(ours "$f" --size "$size"); t=$(theirs "$djpeg_start" djpeg -scale 1/8 -outfile /dev/null "$f")
  line "jpeg 1/8" "$f" "$o" "$t"
done
for f in "${others[@]}"; do
  ext=${f##*.}
  o=$(ours "$f"); t=$(theirs "$im_start" "$IM" "$f" null:)
  line "$ext" "$f" "$o" "$t"
done
