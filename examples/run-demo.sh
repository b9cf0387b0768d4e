#!/usr/bin/env bash
# Installs what is missing, builds KorvexPro and shows what the bundled demo layers hold.
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
build/bin/korvexpro info examples/roads.wl examples/sites.wt examples/geology.wp examples/geology.mpj
