"""QGIS judges the styles: the demo project converted with ArcView legends (legend codes) and with
drawing-parameter fields, each shapefile opened by QGIS with its default style (the .qml beside it):
the style loaded, the renderer type, one category per legend entry in the colour of its code, the
annotation layer labelled with its text field, and a map rendered by QGIS showing each region in its
colour at the region's position.

Usage: qgis_styles.py PROGRAM EXAMPLES [SAMPLES]   (SAMPLES: the real project folder, optional)"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
try:
    from qgis.core import (QgsApplication, QgsMapRendererParallelJob, QgsMapSettings, QgsPointXY,
                           QgsVectorLayer)
    from qgis.PyQt.QtCore import QSize
    from qgis.PyQt.QtGui import QColor
except ImportError as e:
    print("SKIP: the qgis module (python3-qgis) is not installed for", sys.executable, "-", e)
    sys.exit(SKIP)

failures = []


def check(ok, text):
    if not ok:
        failures.append(text)
    return ok


def code_colour(code):
    """The main colour of a legend code: packed RGB in hex digits 5..12."""
    v = int(code[4:12], 16)
    return (v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF)


def rgb(colour):
    return (colour.red(), colour.green(), colour.blue())


def convert(program, work, mode, sources, lib, extra=()):
    out = os.path.join(work, mode)
    run = subprocess.run([program, "--config", os.path.join(work, "settings.ini"), "convert", "--mode", mode,
                          "--lib", lib, "-o", out, *extra, *sources], capture_output=True, text=True)
    check(run.returncode == 0, "conversion --mode %s failed: %s %s" % (mode, run.stdout, run.stderr))
    return out


def shapefiles(folder):
    return sorted(os.path.join(d, f) for d, _, files in os.walk(folder) for f in files if f.endswith(".shp"))


def open_layer(shp):
    layer = QgsVectorLayer(shp, os.path.basename(shp)[:-4], "ogr")
    check(layer.isValid(), shp + ": QGIS cannot open it")
    return layer


def render(layer, size=600):
    settings = QgsMapSettings()
    settings.setLayers([layer])
    extent = layer.extent()
    extent.scale(1.05)
    settings.setExtent(extent)
    settings.setOutputSize(QSize(size, size))
    settings.setBackgroundColor(QColor(255, 255, 255))
    job = QgsMapRendererParallelJob(settings)
    job.start()
    job.waitForFinished()
    return settings, job.renderedImage()


def check_legend_layers(folder, label, share=1.0):
    """Every layer with a legend-code field: categorized over it, one category per code, its colour."""
    regions_checked, notes_checked = 0, 0
    for shp in shapefiles(folder):
        qml = shp[:-4] + ".qml"
        layer = open_layer(shp)
        fields = [f.name() for f in layer.fields()]
        if "注释文字" in fields:
            check(os.path.exists(qml), shp + ": no .qml")
            check(layer.labelsEnabled(), shp + ": labels not enabled")
            labeling = layer.labeling()
            if check(labeling is not None, shp + ": no labeling"):
                check(labeling.settings().fieldName == "注释文字",
                      shp + ": labels from %r" % labeling.settings().fieldName)
            notes_checked += 1
            continue
        if "KVX_LEGEND" not in fields:
            continue
        check(os.path.exists(qml), shp + ": no .qml")
        renderer = layer.renderer()
        if not check(renderer.type() == "categorizedSymbol", "%s: renderer %s" % (shp, renderer.type())):
            continue
        check(renderer.classAttribute() == "KVX_LEGEND", shp + ": classified by " + renderer.classAttribute())
        codes = []
        for feature in layer.getFeatures():
            if feature["KVX_LEGEND"] not in codes:
                codes.append(feature["KVX_LEGEND"])
        categories = renderer.categories()
        check([c.value() for c in categories] == codes,
              "%s: categories %r, legend entries %r" % (shp, [c.value() for c in categories], codes))
        for c in categories:
            check(rgb(c.symbol().color()) == code_colour(c.value()),
                  "%s: category %s drawn in %r" % (shp, c.value(), rgb(c.symbol().color())))
        if layer.geometryType() == 2:  # polygons: the rendered map shows each region's colour
            settings, image = render(layer)
            by_code = {c.value(): c for c in categories}
            wrong, total = [], 0
            for feature in layer.getFeatures():
                total += 1
                inside = feature.geometry().pointOnSurface().asPoint()
                pixel = settings.mapToPixel().transform(QgsPointXY(inside))
                symbol = by_code[feature["KVX_LEGEND"]].symbol()
                allowed = [rgb(symbol.symbolLayer(i).color()) for i in range(symbol.symbolLayerCount())]
                # The fill, or the hatch over it, in the pixels around the point (hatch lines are
                # smoothed at their edges).
                around = [rgb(QColor(image.pixel(int(pixel.x()) + dx, int(pixel.y()) + dy)))
                          for dx in range(-2, 3) for dy in range(-2, 3)]
                if not any(max(abs(a - b) for a, b in zip(seen, colour)) <= 8 for seen in around for colour in allowed):
                    wrong.append("region %d rendered %r, expected one of %r" % (feature.id(), around[12], allowed))
            # Regions smaller than a few pixels show mostly their outline: `share` of them must match.
            check(total - len(wrong) >= share * total, "%s: %d of %d regions: %s" % (shp, len(wrong), total, wrong))
            regions_checked += 1
    print("%s: %d region layers rendered, %d annotation layers" % (label, regions_checked, notes_checked))
    return regions_checked, notes_checked


def main():
    program, examples = sys.argv[1], sys.argv[2]
    samples = sys.argv[3] if len(sys.argv) > 3 else ""
    app = QgsApplication([], False)
    app.initQgis()
    work = tempfile.mkdtemp(prefix="kvx-qgis-")
    try:
        demo = convert(program, work, "avl", [os.path.join(examples, "geology.mpj")], examples)
        regions, notes = check_legend_layers(demo, "demo")
        check(regions >= 1 and notes >= 1, "demo: %d region and %d annotation layers checked" % (regions, notes))

        # Parameter fields in RGB: one symbol whose colour comes from the colour field.
        params = convert(program, work, "params", [os.path.join(examples, "roads.wl")], examples,
                         ["--colour-model", "rgb"])
        roads = [s for s in shapefiles(params) if os.path.basename(s) == "roads.shp"]
        if check(len(roads) == 1, "params: no roads.shp"):
            layer = open_layer(roads[0])
            renderer = layer.renderer()
            check(renderer.type() == "singleSymbol", "params: renderer " + renderer.type())
            prop = renderer.symbol().symbolLayer(0).dataDefinedProperties().property(
                renderer.symbol().symbolLayer(0).PropertyStrokeColor)
            check(prop.isActive() and "KVX_LCOLR" in prop.expressionString(),
                  "params: line colour not taken from KVX_LCOLR")
            alias = [layer.attributeAlias(i) for i in range(layer.fields().count())]
            check("名称" in alias, "params: aliases %r" % alias)

        if samples and os.path.isdir(samples):
            project = [f for f in os.listdir(samples) if f.upper() == "I486732TY.MPJ"]
            slib = [d for d in os.listdir(samples) if d.lower() == "slib"]
            if project and slib:
                real = convert(program, work, "avl", [os.path.join(samples, project[0])], os.path.join(samples, slib[0]))
                regions, notes = check_legend_layers(real, "samples", 0.9)
                check(regions >= 1 and notes >= 1, "samples: %d region and %d annotation layers" % (regions, notes))
            else:
                print("samples: I486732TY.MPJ or slib/ not found in", samples, "- not checked")
        else:
            print("samples: not present%s - not checked" % (" at " + samples if samples else ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


code = main()
sys.stdout.flush()
# QGIS 3.22 can crash while tearing down in a script; the result is known by now.
os._exit(code)
