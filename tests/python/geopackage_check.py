"""GDAL and QGIS judge the GeoPackages: the demo project and a stand-alone layer converted twice, to
shapefiles and to GeoPackages (two jobs at once, so the project's layers write one GeoPackage side by
side), and every GeoPackage table compared with its shapefile: whole field names, values, geometries,
coordinate system; the spatial index checked by SQLite and against a plain scan; each default style
loaded by QGIS like the shapefile's .qml. Then the real project reprojected to CGCS2000 lands in
Lixian county, Gansu, and opens styled.

Usage: geopackage_check.py PROGRAM EXAMPLES [SAMPLES]   (SAMPLES: the real project folder, optional)"""
import math
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

SKIP = 77
try:
    from osgeo import gdal, ogr, osr
except ImportError as e:
    print("SKIP: the osgeo module (python3-gdal) is not installed for", sys.executable, "-", e)
    sys.exit(SKIP)
gdal.UseExceptions()
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
try:
    from qgis.core import QgsApplication, QgsVectorLayer
except ImportError as e:
    QgsApplication = None
    print("SKIP (styles in QGIS): the qgis module (python3-qgis) is not installed -", e)

failures = []


def check(ok, text):
    if not ok:
        failures.append(text)
    return ok


def convert(program, work, name, fmt, sources, lib, extra=()):
    out = os.path.join(work, name)
    run = subprocess.run([program, "--config", os.path.join(work, "settings.ini"), "convert", "--mode", "avl",
                          "--lib", lib, "-o", out, "--format", fmt, "-j", "2", *extra, *sources],
                         capture_output=True, text=True)
    check(run.returncode == 0, "conversion to %s failed: %s %s" % (fmt, run.stdout, run.stderr))
    return out


def files(folder, extension):
    return sorted(os.path.join(d, f) for d, _, names in os.walk(folder) for f in names if f.endswith(extension))


def tables(folder):
    """(folder relative to the output, table name) -> (GeoPackage, table), for every table."""
    found = {}
    for gpkg in files(folder, ".gpkg"):
        ds = gdal.OpenEx(gpkg, gdal.OF_VECTOR)
        for i in range(ds.GetLayerCount()):
            name = ds.GetLayer(i).GetName()
            if name != "layer_styles":
                found[(os.path.relpath(os.path.dirname(gpkg), folder), name)] = (gpkg, name)
    return found


def value(feature, i):
    return feature.GetField(i) if feature.IsFieldSetAndNotNull(i) else None


def same_geometry(s, g):
    if s is None or g is None:
        return s is None and g is None
    forced = ogr.ForceTo(s.Clone(), g.GetGeometryType())
    if forced.Equals(g):
        return True
    # Rings grouped in another order: the same area, point for point.
    return forced.GetGeometryCount() == g.GetGeometryCount() and forced.SymDifference(g).IsEmpty()


def compare(shp, gpkg, table):
    label = "%s:%s" % (os.path.basename(gpkg), table)
    # The encoding the .cpg names, given outright: QGIS turns GDAL's own recoding of shapefiles off
    # once it has opened one.
    cpg = shp[:-4] + ".cpg"
    code = open(cpg).read().strip() if os.path.exists(cpg) else ""
    encoding = {"936": "CP936", "UTF-8": "UTF-8"}.get(code)
    sds = gdal.OpenEx(shp, gdal.OF_VECTOR, open_options=["ENCODING=" + encoding] if encoding else [])
    gds = gdal.OpenEx(gpkg, gdal.OF_VECTOR)
    sl, gl = sds.GetLayer(0), gds.GetLayerByName(table)
    sd, gd = sl.GetLayerDefn(), gl.GetLayerDefn()
    if not check(sd.GetFieldCount() == gd.GetFieldCount(), label + ": field counts differ"):
        return
    kinds = []
    for i in range(gd.GetFieldCount()):
        s, g = sd.GetFieldDefn(i), gd.GetFieldDefn(i)
        # The shapefile holds the name cut to ten bytes; the GeoPackage the whole name.
        check(g.GetName().startswith(s.GetName()), "%s: field %r for %r" % (label, g.GetName(), s.GetName()))
        kinds.append((g.GetType(), g.GetSubType(), s.GetPrecision()))
    check(sl.GetFeatureCount() == gl.GetFeatureCount(),
          "%s: %d features, the shapefile %d" % (label, gl.GetFeatureCount(), sl.GetFeatureCount()))
    for sf, gf in zip(sl, gl):
        check(same_geometry(sf.GetGeometryRef(), gf.GetGeometryRef()), "%s: feature %d: geometry %s, shapefile %s" % (
            label, gf.GetFID(), gf.GetGeometryRef(), sf.GetGeometryRef()))
        for i, (kind, subtype, decimals) in enumerate(kinds):
            s, g = value(sf, i), value(gf, i)
            name = gd.GetFieldDefn(i).GetName()
            if kind == ogr.OFTReal and s is not None and g is not None:
                ok = abs(s - g) <= 0.5 * 10 ** -decimals + 1e-9
            elif kind == ogr.OFTDate:
                ok = (g is None and (s is None or s.startswith("0000"))) or (s or "").replace("-", "/") == g
            elif subtype == ogr.OFSTBoolean:
                ok = g == (1 if s == "T" else 0 if s == "F" else None)
            elif kind == ogr.OFTString and g == "":
                ok = s is None  # a DBF reads an empty text as null
            else:
                ok = s == g
            check(ok, "%s: feature %d field %s: %r, shapefile %r" % (label, gf.GetFID(), name, g, s))
    srs_s, srs_g = sl.GetSpatialRef(), gl.GetSpatialRef()
    if srs_s is not None and srs_s.GetName() == "PRJ_UNKNOWN":
        # A local system: the GeoPackage's undefined Cartesian system.
        check(srs_g is not None and srs_g.IsLocal() and srs_g.GetName() == "Undefined Cartesian SRS",
              "%s: system %s for a local system" % (label, srs_g and srs_g.ExportToWkt()))
    elif srs_s is not None:
        check(srs_g is not None and srs_g.IsSame(srs_s, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"]),
              "%s: system %s, the .prj %s" % (label, srs_g and srs_g.ExportToWkt(), srs_s.ExportToWkt()))


def check_index(gpkg, table):
    """SQLite finds the R*Tree sound, and a window query finds what a scan of the boxes finds."""
    db = sqlite3.connect(gpkg)
    try:
        rtree = "rtree_%s_geom" % table
        check(db.execute("SELECT rtreecheck(?)", (rtree,)).fetchone()[0] == "ok", "%s: %s is not sound" % (gpkg, rtree))
        check(db.execute("PRAGMA integrity_check").fetchone()[0] == "ok", gpkg + ": integrity check")
        names = {r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type = 'trigger'")}
        check(rtree + "_insert" in names, "%s: the index's insert trigger is missing" % gpkg)
    finally:
        db.close()
    ds = gdal.OpenEx(gpkg, gdal.OF_VECTOR)
    layer = ds.GetLayerByName(table)
    if layer.GetFeatureCount() == 0:
        return
    x0, x1, y0, y1 = layer.GetExtent()
    window = (x0, y0, (x0 + x1) / 2, (y0 + y1) / 2)
    scanned = set()
    for f in layer:
        g = f.GetGeometryRef()
        if g is not None and not g.IsEmpty():
            a, b, c, d = g.GetEnvelope()
            if a <= window[2] and b >= window[0] and c <= window[3] and d >= window[1]:
                scanned.add(f.GetFID())
    db = sqlite3.connect(gpkg)
    try:
        found = {r[0] for r in db.execute(
            'SELECT id FROM "rtree_%s_geom" WHERE minx <= ? AND maxx >= ? AND miny <= ? AND maxy >= ?' % table,
            (window[2], window[0], window[3], window[1]))}
    finally:
        db.close()
    # The index holds boxes of floats rounded outwards: it may find a box that touches the window.
    extra = found - scanned
    check(scanned <= found and len(extra) <= max(1, len(scanned) // 100),
          "%s:%s: the index finds %d, a scan of the boxes %d" % (gpkg, table, len(found), len(scanned)))


def check_styles(pairs):
    """QGIS loads each table's default style from the GeoPackage as it loads the .qml beside the shapefile."""
    if QgsApplication is None:
        return 0
    loaded = 0
    for shp, (gpkg, table) in pairs:
        if not os.path.exists(shp[:-4] + ".qml"):
            continue
        s = QgsVectorLayer(shp, table, "ogr")
        g = QgsVectorLayer("%s|layername=%s" % (gpkg, table), table, "ogr")
        if not check(s.isValid() and g.isValid(), "%s:%s: QGIS cannot open it" % (gpkg, table)):
            continue
        message, ok = g.loadDefaultStyle()
        check(ok, "%s:%s: no default style (%s)" % (gpkg, table, message))
        check(g.renderer().type() == s.renderer().type(),
              "%s:%s: renderer %s, the shapefile's %s" % (gpkg, table, g.renderer().type(), s.renderer().type()))
        if s.renderer().type() == "categorizedSymbol":
            check(len(g.renderer().categories()) == len(s.renderer().categories()), "%s:%s: categories" % (gpkg, table))
        check(g.labelsEnabled() == s.labelsEnabled(), "%s:%s: labels" % (gpkg, table))
        loaded += 1
    return loaded


def main():
    program, examples = sys.argv[1], sys.argv[2]
    samples = sys.argv[3] if len(sys.argv) > 3 else ""
    app = None
    if QgsApplication is not None:
        app = QgsApplication([], False)
        app.initQgis()
    work = tempfile.mkdtemp(prefix="kvx-gpkg-")
    try:
        # Every GDAL and QGIS object of the checks is gone before QGIS exits.
        run_checks(program, examples, samples, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if app is not None:
            app.exitQgis()
    for f in failures[:40]:
        print("FAIL:", f)
    if failures:
        print("%d failures" % len(failures))
        return 1
    return 0


def run_checks(program, examples, samples, work):
    if True:
        sources = [os.path.join(examples, "geology.mpj"), os.path.join(examples, "roads.wl")]
        shp_out = convert(program, work, "shp", "shp", sources, examples)
        gpkg_out = convert(program, work, "gpkg", "gpkg", sources, examples)
        found = tables(gpkg_out)
        pairs = []
        for shp in files(shp_out, ".shp"):
            key = (os.path.relpath(os.path.dirname(shp), shp_out), os.path.basename(shp)[:-4])
            if check(key in found, "no GeoPackage table for " + shp):
                pairs.append((shp, found[key]))
        check(len(found) == len(pairs), "tables without a shapefile: %r" % sorted(set(found) - {
            (os.path.relpath(os.path.dirname(s), shp_out), os.path.basename(s)[:-4]) for s, _ in pairs}))
        # One GeoPackage for the project, one for the stand-alone layer; logs beside them.
        check(sorted(os.path.relpath(p, gpkg_out) for p in files(gpkg_out, ".gpkg")) ==
              ["geology/geology.gpkg", "roads.gpkg"], "GeoPackages: %r" % files(gpkg_out, ".gpkg"))
        check(files(gpkg_out, ".shp") == [], "shapefiles beside the GeoPackages")
        for shp, (gpkg, table) in pairs:
            check(os.path.exists(os.path.join(os.path.dirname(gpkg), table + ".log")), table + ": no log")
            compare(shp, gpkg, table)
            check_index(gpkg, table)
        styled = check_styles(pairs)
        print("demo: %d tables compared with their shapefiles, %d default styles loaded" % (len(pairs), styled))

        if samples and os.path.exists(os.path.join(samples, "I486732TY.MPJ")):
            real = convert(program, work, "real", "gpkg", [os.path.join(samples, "I486732TY.MPJ")],
                           samples, ["--to-crs", "EPSG:4490"])
            real_tables = tables(real)
            check(len(real_tables) > 1, "the real project gave %d tables" % len(real_tables))
            # The same run to shapefiles: every table holds what its shapefile holds.
            real_shp = convert(program, work, "real-shp", "shp", [os.path.join(samples, "I486732TY.MPJ")],
                               samples, ["--to-crs", "EPSG:4490"])
            compared = 0
            for shp in files(real_shp, ".shp"):
                key = (os.path.relpath(os.path.dirname(shp), real_shp), os.path.basename(shp)[:-4])
                if check(key in real_tables, "no GeoPackage table for " + shp):
                    compare(shp, *real_tables[key])
                    compared += 1
            check(compared == len(real_tables), "real project: %d tables, %d shapefiles" % (len(real_tables), compared))
            for (folder, table), (gpkg, _) in sorted(real_tables.items()):
                ds = gdal.OpenEx(gpkg, gdal.OF_VECTOR)  # held while its layer is used
                layer = ds.GetLayerByName(table)
                srs = layer.GetSpatialRef()
                check(srs is not None and srs.GetAuthorityCode(None) == "4490", "%s: system %s" % (table, srs))
                if layer.GetFeatureCount() == 0:
                    continue
                x0, x1, y0, y1 = layer.GetExtent()
                cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
                check(abs(cx - 105.4) < 0.3 and abs(cy - 34.2) < 0.3,
                      "%s: centre %.4f %.4f, not in Lixian county" % (table, cx, cy))
                check_index(gpkg, table)
            if QgsApplication is not None:
                opened = 0
                for (folder, table), (gpkg, _) in sorted(real_tables.items()):
                    g = QgsVectorLayer("%s|layername=%s" % (gpkg, table), table, "ogr")
                    if not g.isValid() or g.featureCount() == 0 or table == os.path.basename(gpkg)[:-5]:
                        continue
                    message, ok = g.loadDefaultStyle()
                    check(ok, "%s: no default style (%s)" % (table, message))
                    opened += ok
                check(opened > 0, "no table of the real project opened styled")
                print("real project: %d tables, %d opened styled in QGIS" % (len(real_tables), opened))
        else:
            print("SKIP (real project): I486732TY.MPJ is not in", samples or "(no folder given)")


if __name__ == "__main__":
    sys.exit(main())
