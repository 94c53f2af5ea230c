#!/usr/bin/env bash
# Builds the ISAM fuzz target with clang and runs it: first every kept case
# of tests/fuzz/corpus once (the regression cases), then a bounded fuzzing
# run that starts from them, with a fixed seed.
# Usage: run_fuzz.sh CMAKE SOURCE_DIR BUILD_DIR SECONDS
# Exit status 77 (skipped) when clang's libFuzzer is not installed.
set -euo pipefail
cmake=$1 src=$2 build=$3 secs=$4

if ! command -v clang++ >/dev/null || ! command -v clang >/dev/null; then
  echo "clang is not installed: skipped"
  exit 77
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' >"$probe/p.cc"
if ! clang++ -fsanitize=fuzzer,address "$probe/p.cc" -o "$probe/p" 2>/dev/null; then
  echo "clang's libFuzzer is not installed: skipped"
  exit 77
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
"$cmake" -S "$src/tests/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTEV_SOURCE_DIR="$src" "${launcher[@]}" >/dev/null
"$cmake" --build "$build" -j4 --target isam_fuzz >/dev/null

cd "$build"
./isam_fuzz -rss_limit_mb=2048 "$src"/tests/fuzz/corpus/*
rm -rf work artifacts
mkdir -p work artifacts
status=0
./isam_fuzz work "$src/tests/fuzz/corpus" -seed=20261210 -max_len=16384 -max_total_time="$secs" \
  -timeout=10 -rss_limit_mb=2048 -artifact_prefix=artifacts/ -print_final_stats=1 \
  >fuzz.log 2>&1 || status=$?
grep -v -e '^#[0-9]' -e '^"' fuzz.log || true
if [ "$status" != 0 ] || [ -n "$(ls artifacts)" ]; then
  echo "the fuzz target failed; the input is in $build/artifacts (keep it in tests/fuzz/corpus)"
  exit 1
fi
