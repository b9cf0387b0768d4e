#!/usr/bin/env bash
# Installs what is missing, builds KorvexPro and converts the bundled demo project (a line, a
# point-and-annotation, a region, a network layer and an attribute table, with the colour library
# Pcolor.lib) into shapefiles with ArcView legends, in a new folder under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

out="build/demo-$(date +%Y%m%d-%H%M%S)"
# The demo's own settings file (never written): the user's stored settings do not change the demo.
build/bin/korvexpro --config build/demo-settings.ini \
  convert --mode avl --lib examples -o "$out" examples/geology.mpj
echo
echo "Outputs in $out:"
ls -R "$out"
