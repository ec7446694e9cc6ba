#!/usr/bin/env bash
# Builds and runs the DDP writer benchmark in a scratch folder (about 5 GB at its peak), then
# removes the folder. Usage: bench/ddp_writer.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release ddp_writer
work=$(mktemp -d "${TMPDIR:-/tmp}/ddp-writer-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/release/bench/ddp_writer "$work" "${1:-3}"
