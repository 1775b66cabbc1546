#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillory.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
exec build/app/quillory-cli/quillory-cli settings "$@"
