#!/usr/bin/env bash
# Runs the demo host over the bundled plug-in directory of a build.
set -euo pipefail
build=${1:-build}
"$build/ostrel-host" --plugin-dir "$build/plugins" list
