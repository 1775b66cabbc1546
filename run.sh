#!/usr/bin/env bash
# Installs what is missing, builds, makes the sample clips in samples/, and starts Quillory in its
# data folder (where the help file is). Files named on the command line are passed on.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
tools/make_samples.sh samples
args=()
for a in "$@"; do
  if [ -e "$a" ]; then args+=("$(realpath "$a")"); else args+=("$a"); fi
done
cd build/data
exec ../app/quillory/quillory ${args[@]+"${args[@]}"}
