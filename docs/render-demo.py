"""Renders the demo project, converted with ArcView legends, as QGIS draws it with the styles the
conversion wrote (run with Debian's /usr/bin/python3; python3-qgis).

Usage: /usr/bin/python3 docs/render-demo.py build/bin/korvexpro examples docs/demo-qgis.png"""
import os
import shutil
import subprocess
import sys
import tempfile

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
from qgis.core import QgsApplication, QgsMapRendererParallelJob, QgsMapSettings, QgsRectangle, QgsVectorLayer
from qgis.PyQt.QtCore import QSize
from qgis.PyQt.QtGui import QColor

program, examples, png = sys.argv[1:4]
app = QgsApplication([], False)
app.initQgis()
work = tempfile.mkdtemp(prefix="kvx-render-")
try:
    out = os.path.join(work, "out")
    subprocess.run([program, "--config", os.path.join(work, "settings.ini"), "convert", "--mode", "avl", "--lib",
                    examples, "-o", out, os.path.join(examples, "geology.mpj")], check=True, capture_output=True)
    folder = os.path.join(out, "geology")
    # Regions at the bottom, then lines, points and notes; the layer index is left out.
    order = ["geology_P0", "pipes", "roads", "pipesD", "sites", "sitesA"]
    layers = []
    for name in order:
        shp = os.path.join(folder, name + ".shp")
        if os.path.exists(shp):
            layers.append(QgsVectorLayer(shp, name, "ogr"))
    extent = QgsRectangle()
    for layer in layers:
        extent.combineExtentWith(layer.extent())
    extent.scale(1.1)
    settings = QgsMapSettings()
    settings.setLayers(list(reversed(layers)))
    settings.setExtent(extent)
    settings.setOutputSize(QSize(800, 600))
    settings.setBackgroundColor(QColor(255, 255, 255))
    job = QgsMapRendererParallelJob(settings)
    job.start()
    job.waitForFinished()
    job.renderedImage().save(png, "PNG")
    print("wrote", png, "from", [l.name() for l in layers])
finally:
    shutil.rmtree(work, ignore_errors=True)
    app.exitQgis()
