#!/usr/bin/env bash
# Self-test of the stand-ins: starts both with scripts/standins-start.sh, talks to them with curl
# as the application does, stops them again.
set -euo pipefail
cd "$(dirname "$0")"
start=$SECONDS
node --test test/standins.test.js
echo "standins self-test took $((SECONDS - start)) s"
