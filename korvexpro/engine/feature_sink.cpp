#include "engine/feature_sink.h"

#include <optional>

#include "engine/shape_output.h"

namespace Kvx {
namespace {

// The value writes of a sink whose table is a DBF (`Self::Table()`): dates and timestamps as the
// text the table holds.
template <class Self>
class DbfValues : public FeatureSink {
 public:
  bool WriteInteger(int row, int field, std::int64_t value) override { return T().WriteInteger(row, field, value); }
  bool WriteDouble(int row, int field, double value) override { return T().WriteDouble(row, field, value); }
  bool WriteString(int row, int field, const char* text) override { return T().WriteString(row, field, text); }
  bool WriteLogical(int row, int field, bool value) override { return T().WriteLogical(row, field, value); }
  bool WriteNull(int row, int field) override { return T().WriteNull(row, field); }
  bool WriteDate(int row, int field, const char* text, const MapGis::DATE_STRUstruct&) override {
    return T().WriteString(row, field, text);
  }
  bool WriteTimeStamp(int row, int field, const char* text, const MapGis::TIMESTAMPstruct&) override {
    return T().WriteString(row, field, text);
  }

 private:
  DbfTable& T() { return static_cast<Self*>(this)->Table(); }
};

class ShapefileSink final : public DbfValues<ShapefileSink> {
 public:
  ShapefileSink(const std::filesystem::path& outputBase, DbfTable dbf, int shapeType)
      : base_(outputBase), dbf_(std::move(dbf)), shapeType_(shapeType) {}

  std::filesystem::path TablePath() const override { return WithExtension(base_, ".dbf"); }
  std::filesystem::path ShapePath() const override { return WithExtension(base_, ".shp"); }

  int AddField(const SinkField& field) override {
    return dbf_.AddField(field.dbfName, field.dbfType, field.width, field.decimals);
  }
  int FieldCount() const override { return dbf_.FieldCount(); }
  int FieldWidth(int field) const override { return dbf_.FieldWidth(field); }
  std::string WholeName(int) const override { return {}; }

  bool BeginFeatures() override {
    shp_ = ShapeFile::Create(base_, shapeType_);
    return shp_.IsOpen();
  }
  bool Append(SHPObject* shape) override {
    return shp_.Append(reinterpret_cast<MapGis::Geometry*>(shape));
  }


  bool Close(bool) override {
    const bool shapesWritten = shp_.Close();
    const bool tableWritten = dbf_.Close();
    failed_ = shapesWritten ? ".dbf" : ".shp";
    return shapesWritten && tableWritten;
  }
  std::filesystem::path FailedPath() const override { return WithExtension(base_, failed_); }
  DbfTable& Table() { return dbf_; }

 private:
  std::filesystem::path base_;
  DbfTable dbf_;
  ShapeFile shp_;
  int shapeType_;
  const char* failed_ = ".shp";
};

class DbfRows final : public DbfValues<DbfRows> {
 public:
  explicit DbfRows(DbfTable& dbf) : dbf_(dbf) {}
  std::filesystem::path TablePath() const override { return {}; }
  std::filesystem::path ShapePath() const override { return {}; }
  int AddField(const SinkField& field) override {
    return dbf_.AddField(field.dbfName, field.dbfType, field.width, field.decimals);
  }
  int FieldCount() const override { return dbf_.FieldCount(); }
  int FieldWidth(int field) const override { return dbf_.FieldWidth(field); }
  std::string WholeName(int) const override { return {}; }
  bool BeginFeatures() override { return false; }
  bool Append(SHPObject*) override { return false; }
  bool Close(bool) override { return dbf_.Close(); }
  std::filesystem::path FailedPath() const override { return {}; }
  DbfTable& Table() { return dbf_; }

 private:
  DbfTable& dbf_;
};

}  // namespace

std::unique_ptr<FeatureSink> DbfRowsOf(DbfTable& dbf) { return std::make_unique<DbfRows>(dbf); }

std::unique_ptr<FeatureSink> CreateShapefileSink(const std::filesystem::path& outputBase, const char* codePage,
                                                 int shapeType) {
  DbfTable dbf = DbfTable::Create(outputBase, codePage);
  if (!dbf.IsOpen()) return nullptr;
  return std::make_unique<ShapefileSink>(outputBase, std::move(dbf), shapeType);
}

SinkField DbfField(const char* dbfName, std::string_view wholeName, DBFFieldType type, int width, int decimals) {
  const ValueKind kind = type == FTInteger   ? ValueKind::Integer
                         : type == FTDouble  ? ValueKind::Real
                         : type == FTLogical ? ValueKind::Logical
                                             : ValueKind::Text;
  return SinkField{dbfName, wholeName, type, width, decimals, kind};
}

}  // namespace Kvx
