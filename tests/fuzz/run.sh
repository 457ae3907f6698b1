#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on its seed corpus.
#   tests/fuzz/run.sh [SECONDS]   (default 120 a target)
# New crashers land in the target's seed folder as crash-*; keep them: the tests decode them.
# Every target is built and run; the script fails at the end when one did not build or found a
# crash, and names them.
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-120}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++-14 -DQMT_FUZZ=ON \
      -DQMT_BUILD_TESTS=ON >/dev/null || exit 1
failed=()

# run NAME SEEDS: builds fuzz-NAME and runs it on the seeds (and a corpus of its own).
run() {
  local name=$1 seeds=$2 work=build-fuzz/corpus-$1
  echo "== $name"
  if ! cmake --build build-fuzz --target "fuzz-$name" -j2 >"build-fuzz/build-$name.log" 2>&1; then
    echo "fuzz-$name does not build: see build-fuzz/build-$name.log"
    failed+=("$name (build)")
    return
  fi
  mkdir -p "$seeds" "$work"
  if ! "build-fuzz/fuzz-$name" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
      -artifact_prefix="$seeds/" "$work" "$seeds" >"build-fuzz/run-$name.log" 2>&1; then
    failed+=("$name (finding)")
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE|ERROR|SUMMARY" "build-fuzz/run-$name.log"
}

for codec in psd pcx tga bmp jpeg gif wmf emf pcd webp heif avif jxl; do
  run "$codec" "tests/data/codecs/$codec"
done
# The registry file parser: its seeds are hand-written registry files.
run registry tests/data/registry
# The thumbnail cache's reader: its seed is a stored thumbnail that describes the fuzzer's file.
run thumbnailcache tests/data/thumbnailcache

if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
