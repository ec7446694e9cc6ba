#!/usr/bin/env bash
# Stops the stand-ins that scripts/standins-start.sh ENV_FILE started and removes their folder
# (blob data, logs). The env file itself is left to its owner.
set -euo pipefail

env_file=${1:?usage: standins-stop.sh ENV_FILE}
run_dir=$(sed -n 's/^CORVANE_STANDINS_DIR=//p' "$env_file")
case $run_dir in
  */corvane-standins.*) ;;
  *) echo "standins: $env_file names no stand-in folder" >&2; exit 1 ;;
esac
[ -d "$run_dir" ] || exit 0

for pid_file in "$run_dir"/*.pid; do
  [ -f "$pid_file" ] || continue
  pid=$(cat "$pid_file")
  # only a process that is still ours: its command line names this run's folder
  if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$run_dir"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
done
rm -rf "$run_dir"
