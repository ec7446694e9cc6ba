#!/usr/bin/env bash
# Builds the upload throughput benchmark, starts the plant's stand-ins, uploads a 700 MB master
# through the application's upload and the same requests through curl, prints both and their
# ratio, then stops the stand-ins and removes the scratch folder (about 1.4 GB, and 1.4 GB per
# round in the blob store while it runs). Usage: bench/upload_throughput.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release upload_throughput
work=$(mktemp -d "${TMPDIR:-/tmp}/upload-throughput-bench-XXXXXX")
trap 'bash scripts/standins-stop.sh "$work/standins.env" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
bash scripts/standins-start.sh "$work/standins.env" >/dev/null
set -a
. "$work/standins.env"
set +a
build/release/bench/upload_throughput "$work" "${1:-1}"
