#!/bin/bash
# view.sh - how fast the viewer shows camera photos, next to djpeg decoding the same files.
#
#   bench/view.sh [N] [DIR]     N photos (default 10) from DIR (default bench/corpus/photos)
#   QMT_BENCH=path/to/qmt-bench overrides the benchmark program (default build/qmt-bench).
#
# Prints the viewer's own figures (first image, each Next after the neighbours were decoded,
# memory), the djpeg full-size decode time of the same files measured in the same run, and the
# ratios against the targets: first image within 1.3 x djpeg + 50 ms, Next median within 50 ms.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10}
dir=${2:-$here/bench/corpus/photos}
bench=${QMT_BENCH:-$here/build/qmt-bench}
[[ -x $bench ]] || { echo "no benchmark program at $bench (build the qmt-bench target)" >&2; exit 1; }
[[ -d $dir ]] || { echo "no photo folder $dir (run ../shared/bench/make-photo-corpus.sh)" >&2; exit 1; }
command -v djpeg >/dev/null || { echo "djpeg is missing (libjpeg-turbo-progs)" >&2; exit 1; }

mapfile -t files < <(find "$dir" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) | sort | head -n "$count")
((${#files[@]})) || { echo "no JPEG files in $dir" >&2; exit 1; }

ms() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
median() { sort -n | awk '{a[NR]=$1} END {if (NR==0) print 0; else if (NR%2) print a[(NR+1)/2]; else print int((a[NR/2]+a[NR/2+1])/2)}'; }

echo "== qmt-bench view (${#files[@]} files, 3 runs)"
# Both sides read the files from the page cache: the figures compare decoding, not the disk.
cat "${files[@]}" >/dev/null
# Each run is a new process, whose first picture also pays for fresh memory; the medians of three
# runs are reported.
firsts=()
nexts=()
for run in 1 2 3; do
  out=$("$bench" view "${files[@]}" 2>/dev/null)
  [[ $run == 1 ]] && echo "$out"
  firsts+=("$(sed -n 's/^first: \([0-9-]*\) ms$/\1/p' <<<"$out")")
  nexts+=("$(sed -n 's/^next median: \([0-9-]*\) ms$/\1/p' <<<"$out")")
done
echo "first, each run: ${firsts[*]} ms"
first=$(printf '%s\n' "${firsts[@]}" | median)
next=
((${#files[@]} > 1)) && next=$(printf '%s\n' "${nexts[@]}" | median)
echo "first (median of 3): $first ms"
[[ -n $next ]] && echo "next median (median of 3): $next ms"

echo "== djpeg full-size decode"
times=()
for f in "${files[@]}"; do
  djpeg -outfile /dev/null "$f" # warm the file cache as the viewer's run did
  t0=$(date +%s%N)
  djpeg -outfile /dev/null "$f"
  t=$(ms "$t0")
  times+=("$t")
  printf '%s: %s ms\n' "$(basename "$f")" "$t"
done
djfirst=${times[0]}
djmedian=$(printf '%s\n' "${times[@]}" | median)
echo "djpeg first: $djfirst ms"
echo "djpeg median: $djmedian ms"

echo "== ratios"
awk -v f="$first" -v d="$djfirst" 'BEGIN {
  target = 1.3 * d + 50
  printf "first / djpeg: %.2f (first %d ms, target 1.3 x %d + 50 = %d ms: %s)\n", (d > 0 ? f / d : 0), f, d, target, (f <= target ? "met" : "missed") }'
if [[ -n $next ]]; then
  awk -v n="$next" -v d="$djmedian" 'BEGIN {
    printf "next median / djpeg median: %.2f (next %d ms, target 50 ms: %s)\n", (d > 0 ? n / d : 0), n, (n <= 50 ? "met" : "missed") }'
fi
