#!/usr/bin/env bash
# Builds one configuration: "release" (build/release) or "sanitize" (build/sanitize, with
# AddressSanitizer and UndefinedBehaviorSanitizer). Extra arguments name targets.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
shift || true
case "$config" in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=OFF) ;;
  sanitize) flags=(-DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
# Paths inside the checkout hash as relative ones, and the build folder's own path not at all, so
# that other checkouts share the cache.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
cmake -S . -B "build/$config" -G Ninja "${flags[@]}" > /dev/null
cmake --build "build/$config" -j "$(nproc)" ${1:+--target "$@"}
