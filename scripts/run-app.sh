#!/usr/bin/env bash
# Installs the dependencies, builds the application and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release corvane
exec build/release/corvane "$@"
