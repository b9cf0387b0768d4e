// The preview pane on small shapefiles written here with shapelib: a region with a hole in its
// legend colour, a line in its colour field, annotation texts from a GBK table, what is drawn
// where, zoom about the cursor, panning by drag, the scale bar, and files that are not there.

#include <shapefil.h>

#include <QImage>
#include <QLineF>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <string>

#include "shell/preview_pane.h"

namespace fs = std::filesystem;

namespace {

// A 100 m square at (1000, 2000) with a 20 m hole in its middle, legend colour red (packed RGB 0xFF).
void WriteRegions(const fs::path& base) {
  SHPHandle shp = SHPCreate(base.c_str(), SHPT_POLYGON);
  DBFHandle dbf = DBFCreateEx(base.c_str(), "LDID/87");
  DBFAddField(dbf, "KVX_LEGEND", FTString, 32, 0);
  const double x[] = {1000, 1000, 1100, 1100, 1000, 1040, 1060, 1060, 1040, 1040};
  const double y[] = {2000, 2100, 2100, 2000, 2000, 2040, 2040, 2060, 2060, 2040};
  const int starts[] = {0, 5};
  SHPObject* o = SHPCreateObject(SHPT_POLYGON, -1, 2, starts, nullptr, 10, x, y, nullptr, nullptr);
  SHPWriteObject(shp, -1, o);
  SHPDestroyObject(o);
  DBFWriteStringAttribute(dbf, 0, 0, "0001000000FF000000000064006400000");
  DBFClose(dbf);
  SHPClose(shp);
}

// One line along the square's bottom edge and below it, colour field blue (packed RGB 0xFF0000).
void WriteLines(const fs::path& base) {
  SHPHandle shp = SHPCreate(base.c_str(), SHPT_ARC);
  DBFHandle dbf = DBFCreateEx(base.c_str(), "LDID/87");
  DBFAddField(dbf, "KVX_LCOLR", FTInteger, 11, 0);
  const double x[] = {1000, 1100};
  const double y[] = {1990, 1990};
  SHPObject* o = SHPCreateSimpleObject(SHPT_ARC, 2, x, y, nullptr);
  SHPWriteObject(shp, -1, o);
  SHPDestroyObject(o);
  DBFWriteIntegerAttribute(dbf, 0, 0, 0xFF0000);
  DBFClose(dbf);
  SHPClose(shp);
}

// Two annotations whose text field "注释文字" is GBK, as the conversion writes it with a .cpg of 936.
void WriteNotes(const fs::path& base) {
  SHPHandle shp = SHPCreate(base.c_str(), SHPT_POINT);
  DBFHandle dbf = DBFCreateEx(base.c_str(), "LDID/87");
  DBFAddField(dbf, "\xD7\xA2\xCA\xCD\xCE\xC4\xD7\xD6", FTString, 40, 0);  // 注释文字
  const double xs[] = {1010, 1080};
  const double ys[] = {2090, 2090};
  for (int i = 0; i < 2; ++i) {
    SHPObject* o = SHPCreateSimpleObject(SHPT_POINT, 1, &xs[i], &ys[i], nullptr);
    SHPWriteObject(shp, -1, o);
    SHPDestroyObject(o);
    DBFWriteStringAttribute(dbf, i, 0, "\xB5\xD8\xB2\xE3");  // 地层
  }
  DBFClose(dbf);
  SHPClose(shp);
  std::ofstream(base.string() + ".cpg") << "936";
}

// Antialiasing softens a thin line's pixels: `tolerance` per channel.
bool Near(const QColor& a, const QColor& b, int tolerance = 30) {
  return std::abs(a.red() - b.red()) < tolerance && std::abs(a.green() - b.green()) < tolerance &&
         std::abs(a.blue() - b.blue()) < tolerance;
}

}  // namespace

class PreviewPaneTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    const fs::path root = dir_.path().toStdString();
    regions_ = root / "geology";
    lines_ = root / "roads";
    notes_ = root / "sitesA";
    WriteRegions(regions_);
    WriteLines(lines_);
    WriteNotes(notes_);
  }

  void drawsEachKindInItsColours() {
    Kvx::CPreviewPane pane;
    pane.resize(400, 300);
    pane.ShowOutputs({notes_, lines_, regions_});
    QCOMPARE(pane.FeatureCount(), 4);
    QCOMPARE(pane.TextCount(), 2);
    QCOMPARE(pane.Extent(), QRectF(QPointF(1000, 1990), QPointF(1100, 2100)));
    QVERIFY(pane.Problems().isEmpty());
    const QImage image = pane.grab().toImage();
    const auto at = [&](double x, double y) { return image.pixelColor(pane.ToScreen({x, y}).toPoint()); };
    QVERIFY2(Near(at(1020, 2020), Qt::red), qPrintable(at(1020, 2020).name()));  // inside the ring
    QVERIFY2(Near(at(1050, 2050), Qt::white), qPrintable(at(1050, 2050).name()));  // in the hole
    QVERIFY2(Near(at(1050, 1990), Qt::blue, 80), qPrintable(at(1050, 1990).name()));  // on the line
    QVERIFY2(Near(at(980, 2045), Qt::white), qPrintable(at(980, 2045).name()));  // beside everything
  }

  void zoomKeepsThePointUnderTheCursorAndDragPans() {
    Kvx::CPreviewPane pane;
    pane.resize(400, 300);
    pane.ShowOutputs({regions_});
    const double before = pane.UnitsPerPixel();
    const QPointF cursor(100, 80);
    // The map point under the cursor: the view is centred on the extent's centre.
    const QPointF map(1050 + (cursor.x() - 200) * before, 2050 - (cursor.y() - 150) * before);
    QVERIFY(QLineF(pane.ToScreen(map), cursor).length() < 1e-6);
    pane.ZoomAt(cursor, 2.0);
    QCOMPARE(pane.UnitsPerPixel(), before / 2);
    QVERIFY(QLineF(pane.ToScreen(map), cursor).length() < 1e-6);
    QVERIFY(QLineF(pane.ToScreen({1050, 2050}), QPointF(200, 150)).length() > 10);  // the rest moved

    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    const QPointF corner = pane.ToScreen({1000, 2000});
    QTest::mousePress(&pane, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mouseMove(&pane, QPoint(230, 140));
    QTest::mouseRelease(&pane, Qt::LeftButton, Qt::NoModifier, QPoint(230, 140));
    const QPointF moved = pane.ToScreen({1000, 2000});
    QVERIFY2(std::abs(moved.x() - corner.x() - 30) < 1e-6 && std::abs(moved.y() - corner.y() + 10) < 1e-6,
             qPrintable(QString("%1,%2").arg(moved.x() - corner.x()).arg(moved.y() - corner.y())));
    pane.ZoomToExtent();
    QCOMPARE(pane.UnitsPerPixel(), before);
  }

  void scaleBarIsARoundLength_data() {
    QTest::addColumn<double>("unitsPerPixel");
    QTest::addColumn<double>("length");
    QTest::addColumn<QString>("label");
    QTest::newRow("metres") << 0.4 << 20.0 << "20 m";
    QTest::newRow("kilometres") << 30.0 << 2000.0 << "2 km";
    QTest::newRow("five") << 5.0 << 500.0 << "500 m";
  }
  void scaleBarIsARoundLength() {
    QFETCH(double, unitsPerPixel);
    QFETCH(double, length);
    QFETCH(QString, label);
    Kvx::CPreviewPane pane;
    pane.resize(400, 300);
    pane.ShowOutputs({regions_});
    pane.ZoomAt({200, 150}, pane.UnitsPerPixel() / unitsPerPixel);
    QVERIFY(std::abs(pane.UnitsPerPixel() - unitsPerPixel) < 1e-9);
    QCOMPARE(pane.ScaleBarLength(), length);
    QCOMPARE(pane.ScaleBarLabel(), label);
  }

  void missingAndEmptyOutputsAreSaidNotDrawn() {
    Kvx::CPreviewPane pane;
    pane.resize(400, 300);
    const fs::path root = dir_.path().toStdString();
    SHPClose(SHPCreate((root / "empty").c_str(), SHPT_ARC));
    pane.ShowOutputs({root / "gone", root / "empty"});
    QCOMPARE(pane.FeatureCount(), 0);
    QCOMPARE(pane.Problems().size(), 2);
    QVERIFY(pane.Problems()[0].contains("gone.shp"));
    QVERIFY(!pane.grab().isNull());  // paints its message, never crashes
    pane.ShowOutputs({regions_});
    QCOMPARE(pane.FeatureCount(), 1);
    QVERIFY(pane.Problems().isEmpty());
  }

  void legendCodesAndPackedColours() {
    QCOMPARE(Kvx::ColourOfLegendCode("0001000000FF00000000006400640000"), std::optional<QColor>(QColor(255, 0, 0)));
    QCOMPARE(Kvx::ColourOfLegendCode("00010000"), std::optional<QColor>());
    QCOMPARE(Kvx::ColourOfLegendCode("0001zzzzzzzz00000000006400640000"), std::optional<QColor>());
    QCOMPARE(Kvx::ColourOfPackedRgb(0x00C08040), QColor(0x40, 0x80, 0xC0));
  }

 private:
  QTemporaryDir dir_;
  fs::path regions_, lines_, notes_;
};

QTEST_MAIN(PreviewPaneTest)
#include "preview_pane_qtest.moc"
