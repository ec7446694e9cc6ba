#!/usr/bin/env bash
# Installs the dependencies, builds the application, starts the local stand-ins of the plant
# (blob store and web service, stopped again when the application ends) and launches the
# application pointed at them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release corvane corvane-cli

env_file=$(mktemp)
trap 'bash scripts/standins-stop.sh "$env_file" >/dev/null 2>&1 || true; rm -f "$env_file"' EXIT
bash scripts/standins-start.sh "$env_file"
set -a
. "$env_file"
set +a
build/release/corvane "$@"
