#!/usr/bin/env bash
# Renders the conversion wizard, the settings dialog and the folder chooser into docs/*.png on a
# virtual display with a Chinese font:  bash docs/make-screenshots.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target kvx_dialog_shots korvexpro
# The demo project converted with legends, for the preview pane's picture.
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
"$build/bin/korvexpro" --config "$demo/settings.ini" convert -q --mode avl --lib examples -o "$demo/out" examples/geology.mpj > /dev/null
env -u QT_QPA_PLATFORM xvfb-run -a -s '-screen 0 1280x900x24' "$build/bin/kvx_dialog_shots" docs "$demo/out/geology"
# The main window after converting the demo project with legends (and a layer file that was moved
# away, so one row shows red), in each theme, and its preview pane drawing the demo's region layer.
cmake --build "$build" --target kvx_gui_shots
env -u QT_QPA_PLATFORM xvfb-run -a -s '-screen 0 1400x1000x24' "$build/bin/kvx_gui_shots" docs examples geology gui- \
  examples/geology.mpj examples/sites.wt "examples/旧图/已移走.wl"
