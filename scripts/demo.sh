#!/usr/bin/env bash
# The main job: installs what is missing, builds Kel, and runs the example
# host program against the built library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh default
build/default/bin/kel_example
