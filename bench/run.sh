#!/usr/bin/env bash
# Runs every benchmark against the release build: the in-process Google
# Benchmark executables, then HTTP load on the real binary with wrk.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release

for bench in "$build"/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_counters_tabular=true
done

command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)"; exit 0; }
export VELMORA_MCP_BEARER="bench-$(date +%s%N)"
port=$((20000 + RANDOM % 20000))
home=$(mktemp -d)
HOME="$home" WENDLE_HOME="$home/.wendle" VELMORA_MCP_ADDR="127.0.0.1:$port" "$build/velmora-mcp" 2>/dev/null &
server=$!
trap 'kill $server; rm -rf "$home"' EXIT
start=$(date +%s%N)
until curl -s -o /dev/null "http://127.0.0.1:$port/mcp"; do sleep 0.005; done
echo "== cold start to serving: $(( ($(date +%s%N) - start) / 1000000 )) ms"
echo "== idle resident memory: $(grep VmRSS /proc/$server/status | awk '{print $2, $3}')"
echo "== ping under load (wrk, 2 threads, 64 connections, 10 s)"
wrk -t2 -c64 -d10s --latency -s bench/ping.lua "http://127.0.0.1:$port/mcp"
