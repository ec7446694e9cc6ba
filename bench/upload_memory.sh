#!/usr/bin/env bash
# Builds the upload memory benchmark, starts the plant's stand-ins, uploads a 1 GiB master to them
# and prints the process's peak resident memory before and after; then stops the stand-ins and
# removes the scratch folder (about 1 GB, and as much again in the blob store while it runs).
# Usage: bench/upload_memory.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release upload_memory
work=$(mktemp -d "${TMPDIR:-/tmp}/upload-memory-bench-XXXXXX")
trap 'bash scripts/standins-stop.sh "$work/standins.env" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
bash scripts/standins-start.sh "$work/standins.env" >/dev/null
set -a
. "$work/standins.env"
set +a
build/release/bench/upload_memory "$work"
