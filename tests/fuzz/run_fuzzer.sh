#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS WORK ARTIFACT_PREFIX [libFuzzer flags...]
# Runs one libFuzzer target on its seeds plus the corpus earlier runs grew in WORK, one job, with
# a per-input timeout and a memory ceiling. Exits non-zero on any finding; the input that caused
# it is written with ARTIFACT_PREFIX. The final statistics include the number of executions.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 prefix=$4
shift 4
mkdir -p "$work" "$(dirname "$prefix")"
export ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-}${UBSAN_OPTIONS:+:}print_stacktrace=1:halt_on_error=1
exec "$fuzzer" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$prefix" \
  "$@" "$work" "$seeds"
