#!/usr/bin/env bash
# Builds the fuzz targets of the SQL text parsers with clang and runs each
# for a bounded time with a fixed seed, against the installation tree of
# the build (locale objects and messages).
# Usage: run_fuzz.sh CMAKE SOURCE_DIR BUILD_DIR SECONDS TREE
# Exit status 77 (skipped) when clang's libFuzzer is not installed.
set -euo pipefail
cmake=$1 src=$2 build=$3 secs=$4 tree=$5

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
"$cmake" -S "$src/tests/sqltypes/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTEV_SOURCE_DIR="$src" "${launcher[@]}" >/dev/null
"$cmake" --build "$build" -j3 >/dev/null

export TARVELONDIR="$tree"
cd "$build"
status=0
for t in dtcvasc incvasc deccvasc bigintcvasc rstrdate rdefmtdate dtcvfmtasc incvfmtasc \
  zel_to_gl_datetime collection; do
  rm -rf "work_$t" "artifacts_$t"
  mkdir -p "work_$t" "artifacts_$t"
  rc=0
  "./fuzz_$t" "work_$t" -seed=20261210 -max_len=256 -max_total_time="$secs" -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="artifacts_$t/" -print_final_stats=1 >"fuzz_$t.log" 2>&1 || rc=$?
  grep -v -e '^#[0-9]' -e '^"' "fuzz_$t.log" | tail -n 20 || true
  if [ "$rc" != 0 ] || [ -n "$(ls "artifacts_$t")" ]; then
    echo "fuzz_$t failed; the input is in $build/artifacts_$t"
    status=1
  fi
done
exit $status
