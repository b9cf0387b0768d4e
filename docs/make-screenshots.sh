#!/usr/bin/env bash
# Renders the conversion wizard, the settings dialog and the folder chooser into docs/*.png on a
# virtual display with a Chinese font:  bash docs/make-screenshots.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target kvx_dialog_shots
env -u QT_QPA_PLATFORM xvfb-run -a -s '-screen 0 1280x900x24' "$build/bin/kvx_dialog_shots" docs
