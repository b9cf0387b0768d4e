#pragma once

// Helpers of the engine tests: running a conversion on a layer built with the fixture builder,
// reading its log (GBK, CR LF) back as UTF-8 lines, and reading the DBF and SHP back with shapelib.

#include <shapefil.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_frame.h"
#include "engine/line_conversion.h"
#include "styles/colour_models.h"
#include "styles_fixtures.h"
#include "support/layer_builder.h"
#include "vordex/text_encoding.h"

namespace KvxEngineTest {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The log as UTF-8 lines without their line ends. Every line must end in CR LF.
inline std::vector<std::string> LogLines(const fs::path& path) {
  const std::string raw = ReadBytes(path);
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    const std::size_t end = raw.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << raw.substr(pos);
      break;
    }
    lines.push_back(MapGis::GbkToUtf8(raw.substr(pos, end - pos)));
    pos = end + 2;
  }
  return lines;
}

inline const std::string kHeader = "==转换信息：I 提示,W 警告,E 错误,F 未知错==";

// Settings of a plain conversion: GBK tables, no drawing parameters, no projection file.
inline Kvx::FrameSettings PlainSettings() {
  Kvx::FrameSettings s;
  s.codePage = 0;
  s.symbolType = 0;
  s.colorModel = 2;
  s.rotateType = 0;
  s.exportProjection = 0;
  s.maxErrors = 64;
  s.symbolFontName = "ESRI Default Marker";
  return s;
}

// Counts what a conversion reports.
class RecordingNotifier : public Kvx::Notifier {
 public:
  void Progress(std::int64_t done, std::int64_t total) override { calls.emplace_back(done, total); }
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
};

struct Outcome {
  std::int32_t result = 0;
  fs::path base;
  std::vector<std::string> log;
};

enum class Routine { Line, NetworkLine };

// Writes the layer to `dir`, converts it to "<dir>/out" (or `name`) and reads the log.
inline Outcome Convert(KvxTest::LayerBuilder& layer, const KvxTest::TempDir& dir, const Kvx::FrameSettings& settings,
                       Routine routine = Routine::Line, const std::string& name = "out",
                       Kvx::Notifier* notifier = nullptr, const Kvx::StyleContext* styles = nullptr) {
  const fs::path source = dir / (name + (layer.Kind() == 4 ? ".wn" : ".wl"));
  EXPECT_TRUE(layer.WriteTo(source));
  Kvx::StyleContext noColours;
  Outcome out;
  out.base = dir / name;
  Kvx::ConversionServices services{styles ? *styles : noColours, notifier ? *notifier : Kvx::SilentNotifier()};
  out.result = routine == Routine::Line ? Kvx::ConvertWL2SHP(source, out.base, services, settings)
                                        : Kvx::ConvertWN2SHP(source, out.base, services, settings);
  out.log = LogLines(fs::path(out.base.native() + ".log"));
  return out;
}

// A line layer of `count` two-vertex lines, line i from (i, 0) to (i, 1).
inline KvxTest::LayerBuilder Lines(int count, int kind = 0) {
  KvxTest::LayerBuilder b(kind);
  for (int i = 0; i < count; ++i) b.AddLine({{i * 1.0, 0.0}, {i * 1.0, 1.0}});
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(count);
  return b;
}

// The header, then `body`.
inline std::vector<std::string> WithHeader(std::vector<std::string> body) {
  body.insert(body.begin(), kHeader);
  return body;
}

// ---- Reading outputs back -----------------------------------------------------------------------

struct DbfCloser {
  void operator()(DBFHandle h) const { DBFClose(h); }
};
struct ShpCloser {
  void operator()(SHPHandle h) const { SHPClose(h); }
};
struct ShapeDeleter {
  void operator()(SHPObject* o) const { SHPDestroyObject(o); }
};

// A field as stored: name, native type letter (C, N, L), width and decimals.
struct FieldInfo {
  std::string name;
  char native;
  int width;
  int decimals;
  bool operator==(const FieldInfo&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const FieldInfo& f) {
  return os << f.name << " " << f.native << "(" << f.width << "," << f.decimals << ")";
}

class Dbf {
 public:
  explicit Dbf(const fs::path& base) : handle_(DBFOpen((base.native() + ".dbf").c_str(), "rb")) {}
  bool IsOpen() const { return handle_ != nullptr; }
  int Rows() const { return DBFGetRecordCount(handle_.get()); }
  int Fields() const { return DBFGetFieldCount(handle_.get()); }
  std::vector<FieldInfo> Schema() const {
    std::vector<FieldInfo> out;
    for (int f = 0; f < Fields(); ++f) {
      char name[XBASE_FLDNAME_LEN_READ + 1] = {0};
      int width = 0, decimals = 0;
      DBFGetFieldInfo(handle_.get(), f, name, &width, &decimals);
      out.push_back({name, DBFGetNativeFieldType(handle_.get(), f), width, decimals});
    }
    return out;
  }
  int Index(const char* name) const { return DBFGetFieldIndex(handle_.get(), name); }
  std::string Text(int row, int field) const {
    const char* s = DBFReadStringAttribute(handle_.get(), row, field);
    return s ? s : "";
  }
  // The raw bytes of a field as stored.
  std::string Raw(int row, int field) const {
    const char* tuple = DBFReadTuple(handle_.get(), row);
    int offset = 1;
    for (int f = 0; f < field; ++f) offset += Schema()[static_cast<std::size_t>(f)].width;
    return std::string(tuple + offset, static_cast<std::size_t>(Schema()[static_cast<std::size_t>(field)].width));
  }
  int Integer(int row, int field) const { return DBFReadIntegerAttribute(handle_.get(), row, field); }
  double Real(int row, int field) const { return DBFReadDoubleAttribute(handle_.get(), row, field); }
  bool IsNull(int row, int field) const { return DBFIsAttributeNULL(handle_.get(), row, field) != 0; }
  const char* CodePage() const { return DBFGetCodePage(handle_.get()); }

 private:
  std::unique_ptr<DBFInfo, DbfCloser> handle_;
};

class Shp {
 public:
  explicit Shp(const fs::path& base) : handle_(SHPOpen((base.native() + ".shp").c_str(), "rb")) {}
  bool IsOpen() const { return handle_ != nullptr; }
  int Count() const {
    int entities = 0, type = 0;
    SHPGetInfo(handle_.get(), &entities, &type, nullptr, nullptr);
    return entities;
  }
  int Type() const {
    int entities = 0, type = 0;
    SHPGetInfo(handle_.get(), &entities, &type, nullptr, nullptr);
    return type;
  }
  std::unique_ptr<SHPObject, ShapeDeleter> Read(int i) const {
    return std::unique_ptr<SHPObject, ShapeDeleter>(SHPReadObject(handle_.get(), i));
  }

 private:
  std::unique_ptr<SHPInfo, ShpCloser> handle_;
};

// A colour library with the test colours, loaded.
struct Colours {
  KvxTest::TempDir dir;
  Kvx::StyleContext styles;
  Colours() {
    KvxTest::WriteFileBytes(dir / "Pcolor.lib", KvxTest::ColourLibraryBytes(KvxTest::TestColours()));
    Kvx::Settings settings;
    settings.LibPath = dir.path().string();
    settings.SymbolType = 4;
    EXPECT_EQ(styles.ConvertLoadRules(settings, Kvx::SilentNotifier()), Kvx::LoadRulesResult::Ready);
  }
};

}  // namespace KvxEngineTest
