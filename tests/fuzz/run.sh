#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on its seed corpus.
#   tests/fuzz/run.sh [SECONDS]   (default 120 a codec)
# New crashers land in tests/data/codecs/<codec>/ as crash-*; keep them: the tests decode them.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-120}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++-14 -DQMT_FUZZ=ON \
      -DQMT_BUILD_TESTS=ON >/dev/null
for codec in psd pcx tga bmp jpeg gif wmf emf pcd webp heif avif jxl; do
  cmake --build build-fuzz --target fuzz-$codec -j2 >/dev/null
  corpus=tests/data/codecs/$codec
  work=build-fuzz/corpus-$codec
  mkdir -p "$corpus" "$work"
  echo "== $codec"
  build-fuzz/fuzz-$codec -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
      -artifact_prefix="$corpus/" "$work" "$corpus" 2>&1 | grep -E "^#[0-9]+ +DONE|ERROR|SUMMARY" || true
done

# The registry file parser: its seeds are hand-written registry files.
cmake --build build-fuzz --target fuzz-registry -j2 >/dev/null
mkdir -p tests/data/registry build-fuzz/corpus-registry
echo "== registry"
build-fuzz/fuzz-registry -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix=tests/data/registry/ build-fuzz/corpus-registry tests/data/registry 2>&1 |
  grep -E "^#[0-9]+[[:space:]]+DONE|ERROR|SUMMARY" || true

# The thumbnail cache's reader: its seed is a stored thumbnail that describes the fuzzer's file.
cmake --build build-fuzz --target fuzz-thumbnailcache -j2 >/dev/null
mkdir -p tests/data/thumbnailcache build-fuzz/corpus-thumbnailcache
echo "== thumbnailcache"
build-fuzz/fuzz-thumbnailcache -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix=tests/data/thumbnailcache/ build-fuzz/corpus-thumbnailcache \
    tests/data/thumbnailcache 2>&1 | grep -E "^#[0-9]+[[:space:]]+DONE|ERROR|SUMMARY" || true
