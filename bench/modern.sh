#!/bin/bash
# modern.sh DIR - HEIC and AVIF phone photos in the browser and the viewer, next to the formats'
# own tools. DIR is the photo corpus (../shared/bench/make-photo-corpus.sh DIR); from its camera
# photos of 12 to 24 megapixels the script makes, once, DIR/modern/heic (heif-enc -q 80 with a
# 256-pixel thumbnail item) and DIR/modern/avif (avifenc, quantizers 20 to 30). Then, in one run,
# with the files in the page cache, it times:
#   listing  qmt-bench explore --no-cache on each folder (every thumbnail made from its file)
#   HEIC     heif-thumbnailer -s 256 of every file to PNG, on both cores (xargs -P2)
#   AVIF     avifdec of every file to PNG, on both cores (xargs -P2)
#   viewer   qmt-bench view of the first file (median of three runs), against heif-convert and
#            avifdec of the same file to PNG
# and prints the ratios against the targets: a cold listing within 1.0 x the reference tool,
# the first picture within 1.2 x the reference decoder + 50 ms, a listing's peak memory under
# 300 MB.
#   COUNT=N makes and times N files of each format (default 100).
#   QMT_BENCH overrides the benchmark program (default build/qmt-bench).
set -euo pipefail

DIR=${1:?usage: bench/modern.sh DIR}
DIR=$(cd "$DIR" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH=${QMT_BENCH:-$ROOT/build/qmt-bench}
COUNT=${COUNT:-100}
JOBS=${JOBS:-2}

need=()
command -v heif-enc >/dev/null || need+=(libheif-examples)
command -v heif-thumbnailer >/dev/null || need+=(heif-thumbnailer)
command -v avifenc >/dev/null || need+=(libavif-bin)
if ((${#need[@]})); then
  SUDO=; ((EUID == 0)) || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
[[ -x $BENCH ]] || { echo "qmt-bench not found at $BENCH: build it first (cmake --build build --target qmt-bench)" >&2; exit 1; }
[[ -d $DIR/photos ]] || { echo "no photos in $DIR (run ../shared/bench/make-photo-corpus.sh $DIR)" >&2; exit 1; }

# Camera photos of 12 to 24 megapixels, in name order.
mapfile -t sources < <(
  find "$DIR/photos" -maxdepth 1 -type f -iname '*.jp*g' | sort | while read -r f; do
    read -r w h < <(identify -format '%w %h\n' "$f" 2>/dev/null | head -n1)
    px=$((w * h))
    ((px >= 12000000 && px <= 24500000)) && echo "$f"
  done | head -n "$COUNT")
((${#sources[@]})) || { echo "no photo of 12 to 24 megapixels in $DIR/photos" >&2; exit 1; }

HEIC=$DIR/modern/heic
AVIF=$DIR/modern/avif
mkdir -p "$HEIC" "$AVIF"
made=0
for f in "${sources[@]}"; do
  name=$(basename "${f%.*}")
  if [[ ! -s $HEIC/$name.heic ]]; then
    heif-enc -q 80 -t 256 "$f" -o "$HEIC/$name.heic.part" >/dev/null && mv "$HEIC/$name.heic.part" "$HEIC/$name.heic"
    made=$((made + 1))
  fi
  if [[ ! -s $AVIF/$name.avif ]]; then
    avifenc -j "$JOBS" -s 8 --min 20 --max 30 "$f" "$AVIF/$name.avif.part" >/dev/null && mv "$AVIF/$name.avif.part" "$AVIF/$name.avif"
    made=$((made + 1))
  fi
done
((made == 0)) || echo "made $made files"

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
source "$ROOT/bench/lib.sh"
median() { sort -n | awk '{a[NR]=$1} END {if (NR==0) print 0; else if (NR%2) print a[(NR+1)/2]; else print int((a[NR/2]+a[NR/2+1])/2)}'; }

echo "machine: $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"

run_format() {
  local label=$1 folder=$2 ext=$3
  local files=("$folder"/*."$ext")
  files=("${files[@]:0:$COUNT}")
  local list_dir=$TMP/$label
  mkdir -p "$list_dir/out"
  # The explorer lists a folder: a folder of links to exactly the files timed here.
  for f in "${files[@]}"; do ln -s "$f" "$list_dir/$(basename "$f")"; done
  cat "${files[@]}" >/dev/null

  echo "== $label: ${#files[@]} files"
  local t0 t1 out listing ref
  out=$(explore --no-cache "$list_dir")
  listing=$(field complete_ms "$out")
  echo "qmt-bench explore --no-cache: $listing ms (process $(field process_ms "$out") ms), longest stall" \
       "$(field longest_stall_ms "$out") ms, peak RSS $(field peak_rss_mb "$out") MB"
  local peak
  peak=$(field peak_rss_mb "$out")

  t0=$(now_ms)
  if [[ $label == HEIC ]]; then
    printf '%s\0' "${files[@]}" | xargs -0 -P"$JOBS" -I{} sh -c 'heif-thumbnailer -s 256 "$1" "$2/$(basename "$1").png"' _ {} "$list_dir/out"
  else
    printf '%s\0' "${files[@]}" | xargs -0 -P"$JOBS" -I{} sh -c 'avifdec "$1" "$2/$(basename "$1").png" >/dev/null' _ {} "$list_dir/out"
  fi
  t1=$(now_ms)
  ref=$((t1 - t0))
  if [[ $label == HEIC ]]; then echo "heif-thumbnailer -s 256 (x$JOBS): $ref ms"; else echo "avifdec to PNG (x$JOBS): $ref ms"; fi

  # The viewer's first picture against the reference decoder of the same file, three runs each,
  # taken in turns so that the machine's load falls on both alike.
  local first=${files[0]} views=() decodes=()
  for run in 1 2 3; do
    out=$("$BENCH" view "$first" 2>/dev/null)
    views+=("$(sed -n 's/^first: \([0-9-]*\) ms$/\1/p' <<<"$out")")
    t0=$(date +%s%N)
    if [[ $label == HEIC ]]; then heif-convert "$first" "$TMP/ref.png" >/dev/null; else avifdec "$first" "$TMP/ref.png" >/dev/null; fi
    decodes+=($(( ($(date +%s%N) - t0) / 1000000 )))
  done
  local view decode
  view=$(printf '%s\n' "${views[@]}" | median)
  decode=$(printf '%s\n' "${decodes[@]}" | median)
  echo "qmt-bench view $(basename "$first"): ${views[*]} ms (median $view ms)"
  echo "reference decode to PNG: ${decodes[*]} ms (median $decode ms)"

  awk -v l="$listing" -v r="$ref" -v v="$view" -v d="$decode" -v p="$peak" -v n="$label" 'BEGIN {
    printf "%s listing / reference: %.2f (target 1.0: %s)\n", n, (r > 0 ? l / r : 0), (l <= r ? "met" : "missed")
    target = 1.2 * d + 50
    printf "%s first picture / reference decode: %.2f (%d ms, target 1.2 x %d + 50 = %d ms: %s)\n", n, (d > 0 ? v / d : 0), v, d, target, (v <= target ? "met" : "missed")
    printf "%s listing peak memory: %d MB (target under 300 MB: %s)\n", n, p, (p < 300 ? "met" : "missed") }'
}

run_format HEIC "$HEIC" heic
run_format AVIF "$AVIF" avif
