"""The demo project converted with the default settings (GBK tables), then read by GDAL with no
encoding option: every field name and text value must come out as the GBK bytes of the DBF
decoded independently here, and the road layer must show its Chinese field and values."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
try:
    from osgeo import gdal, ogr
except ImportError:
    print("SKIP: osgeo (python3-gdal) is not installed for", sys.executable)
    sys.exit(SKIP)

gdal.UseExceptions()


def raw_dbf(path):
    """Field names and text values of a DBF, decoded from GBK by this script alone."""
    with open(path, "rb") as f:
        data = f.read()
    records, header, length = struct.unpack_from("<IHH", data, 4)
    fields = []
    at = 32
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b"\0")[0].decode("gbk")
        fields.append((name, chr(data[at + 11]), data[at + 16]))
        at += 32
    rows = []
    for r in range(records):
        start = header + r * length + 1
        row, offset = {}, 0
        for name, kind, width in fields:
            if kind == "C":
                row[name] = data[start + offset:start + offset + width].decode("gbk").strip()
            offset += width
        rows.append(row)
    return data[29], [f[0] for f in fields], rows


def main():
    program, examples = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="kvx-demo-gdal-")
    try:
        out = os.path.join(work, "out")
        run = subprocess.run([program, "--config", os.path.join(work, "settings.ini"), "convert", "--mode", "avl",
                              "--lib", examples, "-o", out, os.path.join(examples, "geology.mpj")],
                             capture_output=True, text=True)
        if run.returncode != 0:
            print("conversion failed:", run.stdout, run.stderr)
            return 1
        dbfs = [os.path.join(d, f) for d, _, files in os.walk(out) for f in files if f.endswith(".dbf")]
        failures, chinese_names, chinese_values = [], 0, 0
        for dbf in sorted(dbfs):
            base = dbf[:-4]
            with open(base + ".cpg", "rb") as f:
                if f.read() != b"936":
                    failures.append(base + ".cpg does not hold 936")
            ldid, names, rows = raw_dbf(dbf)
            if ldid != 87:
                failures.append("%s: language driver %d, not 87" % (dbf, ldid))
            ds = gdal.OpenEx(dbf, gdal.OF_VECTOR)  # no ENCODING option
            layer = ds.GetLayer(0)
            defn = layer.GetLayerDefn()
            seen = [defn.GetFieldDefn(i).GetName() for i in range(defn.GetFieldCount())]
            if seen != names:
                failures.append("%s: GDAL field names %r, stored %r" % (dbf, seen, names))
                continue
            chinese_names += sum(1 for n in names if any(ord(c) > 127 for c in n))
            for feature, row in zip(layer, rows):
                for name, value in row.items():
                    got = feature.GetFieldAsString(name) if feature.IsFieldSetAndNotNull(name) else ""
                    if got != value:
                        failures.append("%s %s: GDAL %r, stored %r" % (dbf, name, got, value))
                    if any(ord(c) > 127 for c in value):
                        chinese_values += 1
        roads = [d for d in dbfs if os.path.basename(d) == "roads.dbf"]
        if not roads:
            failures.append("no roads.dbf written")
        else:
            ds = gdal.OpenEx(roads[0], gdal.OF_VECTOR)
            layer = ds.GetLayer(0)
            if layer.GetLayerDefn().GetFieldIndex("名称") < 0:
                failures.append("roads.dbf: GDAL shows no field 名称")
        if len(dbfs) < 6 or chinese_names == 0 or chinese_values == 0:
            failures.append("the demo gave %d tables, %d Chinese names, %d Chinese values"
                            % (len(dbfs), chinese_names, chinese_values))
        for f in failures:
            print("FAIL:", f)
        print("%d tables, %d Chinese field names and %d Chinese values read right by GDAL %s"
              % (len(dbfs), chinese_names, chinese_values, gdal.__version__))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


sys.exit(main())
