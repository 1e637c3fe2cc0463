#!/usr/bin/env bash
# The main job: an end-to-end run of what is built, on images the demo makes itself.
set -euo pipefail
build_dir=${1:-build/default}
echo "Build folder: $build_dir"
ctest --test-dir "$build_dir" -R tst_plugindata --output-on-failure
