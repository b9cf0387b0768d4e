// The attribute side of MapGis_FastReader: choosing an attribute area by type, field
// descriptions and lookup, and typed and raw value reads, including damaged areas.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support/layer_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/status.h"

namespace {

using namespace MapGis;
using KvxTest::AttributeArea;
using KvxTest::LayerBuilder;
namespace St = MapGis::Status;

// Gives the tests the protected structure loader, to see the status of a refused type.
class ExposedReader : public MapGis_FastReader {
 public:
  using MapGis_FastReader::ReadFieldInfo;
};

std::vector<std::uint8_t> Raw(std::string_view s) { return {s.begin(), s.end()}; }

// The attribute area of each kind's default type.
int DefaultEntry(int kind) {
  switch (kind) {
    case KindLine: return 2;
    case KindPoint: return 2;
    case KindRegion: return 9;
    case KindNetwork: return 2;
    case KindTable: return 0;
  }
  return -1;
}

// A layer with one feature of its kind (none for a table) and, in each attribute area the kind
// has, one field named after the entry ("E5") whose record 0 holds "v5".
LayerBuilder LayerWithAreas(int kind) {
  LayerBuilder b(kind);
  std::vector<int> entries;
  switch (kind) {
    case KindPoint:
      b.AddPoint(1, 1);
      entries = {2};
      break;
    case KindLine:
      b.AddLine({{0, 0}, {1, 1}});
      entries = {2, 5};
      break;
    case KindNetwork:
      b.AddLine({{0, 0}, {1, 1}});
      b.AddNode(0, 0, {});
      entries = {2, 5};
      break;
    case KindRegion:
      b.AddLine({{0, 0}, {1, 1}, {1, 0}});
      b.AddRegion({1});
      entries = {2, 5, 9};
      break;
    case KindTable:
      entries = {0};
      break;
  }
  for (int entry : entries) {
    AttributeArea& a = b.Attributes(entry);
    a.AddField("E" + std::to_string(entry), FieldString, 4);
    a.SetText(0, 0, "v" + std::to_string(entry));
    a.EnsureRecords(1 + entry);   // a record count of its own per area
  }
  return b;
}

std::string FieldName(MapGis_FastReader& r, int field) {
  char name[32] = {};
  if (r.GetFieldInfo(field, name, nullptr, nullptr, nullptr) < 0) return "<none>";
  return name;
}

// ---------------------------------------------------------------------------------------------
// Attribute types

struct AcceptedType {
  int kind;
  int type;
  int entry;
};

const AcceptedType kAcceptedTypes[] = {
    {KindLine, 0, 2},    {KindLine, 1, 5},    {KindPoint, 1, 2},   {KindRegion, 0, 2},
    {KindRegion, 2, 9},  {KindNetwork, 0, 2}, {KindNetwork, 1, 5}, {KindTable, 7, 0},
};

int AcceptedEntry(int kind, int type) {
  for (const AcceptedType& a : kAcceptedTypes)
    if (a.kind == kind && a.type == type) return a.entry;
  return -1;
}

TEST(LayerAttributesType, DefaultAfterOpen) {
  const struct {
    int kind;
    int type;
  } cases[] = {{KindLine, 0}, {KindPoint, 1}, {KindRegion, 2}, {KindNetwork, 0}, {KindTable, 7}};
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind);
    LayerBuilder b = LayerWithAreas(c.kind);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    EXPECT_EQ(r.GetAttributeType(), c.type);
    // Nothing is loaded until asked for.
    EXPECT_EQ(r.GetFieldInfo(0, nullptr, nullptr, nullptr, nullptr), St::BadAttribute);
    EXPECT_EQ(r.GetFieldCount(), 1);
    EXPECT_EQ(FieldName(r, 0), "E" + std::to_string(DefaultEntry(c.kind)));
    EXPECT_EQ(r.GetRecordCount(), 1 + DefaultEntry(c.kind));
  }
}

TEST(LayerAttributesType, EachTypeSelectsItsAreaOrIsRefused) {
  KvxTest::TempDir dir;
  for (int kind : {KindLine, KindPoint, KindRegion, KindNetwork, KindTable}) {
    LayerBuilder b = LayerWithAreas(kind);
    const std::string path = dir.Store(b);
    for (int type : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << ", type " << type);
      ExposedReader r;
      ASSERT_EQ(r.Open(path.c_str()), St::Success);
      const int defaultType = r.GetAttributeType();
      r.SetAttributeType(type);
      const int entry = AcceptedEntry(kind, type);
      if (entry >= 0) {
        EXPECT_EQ(r.GetAttributeType(), type);
        // SetAttributeType has loaded the structure already.
        EXPECT_EQ(FieldName(r, 0), "E" + std::to_string(entry));
        EXPECT_STREQ(r.ReadStringAttribute(0, 0), ("v" + std::to_string(entry)).c_str());
        EXPECT_EQ(r.GetRecordCount(), 1 + entry);
        EXPECT_EQ(r.ReadFieldInfo(type), St::Success);
      } else {
        EXPECT_EQ(r.GetAttributeType(), defaultType);
        EXPECT_EQ(r.ReadFieldInfo(type), St::BadAttribute);
        EXPECT_EQ(r.GetAttributeType(), defaultType);
      }
    }
  }
}

TEST(LayerAttributesType, RefusedTypeKeepsTheTypeAndReloadsLater) {
  LayerBuilder b = LayerWithAreas(KindPoint);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetFieldCount(), 1);
  ASSERT_EQ(FieldName(r, 0), "E2");

  r.SetAttributeType(0);
  EXPECT_EQ(r.GetAttributeType(), 1);
  EXPECT_EQ(r.GetFieldInfo(0, nullptr, nullptr, nullptr, nullptr), St::BadAttribute) << "the structure is dropped";
  EXPECT_EQ(r.GetFieldCount(), 1);
  EXPECT_EQ(FieldName(r, 0), "E2");
  EXPECT_STREQ(r.ReadStringAttribute(0, 0), "v2");

  r.SetAttributeType(5);
  EXPECT_EQ(r.GetRecordCount(), 3);
  EXPECT_STREQ(r.ReadStringAttribute(0, 0), "v2");
}

TEST(LayerAttributesType, ChangingTheTypeForgetsTheRecords) {
  LayerBuilder b = LayerWithAreas(KindRegion);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  const struct {
    int type;
    const char* value;
  } steps[] = {{2, "v9"}, {0, "v2"}, {2, "v9"}};
  for (const auto& s : steps) {
    r.SetAttributeType(s.type);
    EXPECT_STREQ(r.ReadStringAttribute(0, 0), s.value) << "type " << s.type;
    EXPECT_EQ(FieldName(r, 0), std::string("E") + (s.type == 2 ? "9" : "2"));
  }
}

// ---------------------------------------------------------------------------------------------
// Every type code, raw and typed

struct StoredField {
  const char* name;
  int type;
  std::vector<std::uint8_t> bytes;   // the stored value; its length is the field's size
};

const StoredField kStoredFields[] = {
    {"STR", FieldString, Raw("hello")},
    {"BYTE", FieldByte, {200}},
    {"SHORT", FieldShort, KvxTest::BytesOf<std::int16_t>(-1234)},
    {"LONG", FieldLong, KvxTest::BytesOf<std::int32_t>(-123456789)},
    {"FLOAT", FieldFloat, KvxTest::BytesOf(1.5f)},
    {"DOUBLE", FieldDouble, KvxTest::BytesOf(-2.25)},
    {"DATE", FieldDate, KvxTest::BytesOf(DATE_STRUstruct{2023, 7, 14})},
    {"TIME", FieldTime, KvxTest::BytesOf(TIME_STRUstruct{13, 45, 30.5})},
    {"BOOL", FieldBool, {2}},
    {"TEXT", FieldText, Raw("text")},
    {"STAMP", FieldTimeStamp, KvxTest::BytesOf(TIMESTAMPstruct{2024, 2, 29, 23, 59, 58, 123456})},
    {"CODE12", 12, {1, 2, 3}},
    {"CODE25", 25, {9, 8, 7, 6, 5}},
    {"CODE200", 200, {0xAB, 0xCD}},
};

// A point file whose point attributes hold one field per entry of kStoredFields; record 0 holds
// the values, record 1 zeros.
LayerBuilder LayerWithStoredFields() {
  LayerBuilder b(KindPoint);
  b.AddPoint(1, 1);
  b.AddPoint(2, 2);
  AttributeArea& a = b.Attributes(2);
  for (const StoredField& f : kStoredFields) {
    const int n = a.AddField(f.name, f.type, static_cast<int>(f.bytes.size()));
    a.SetBytes(0, n, f.bytes);
  }
  return b;
}

TEST(LayerAttributesValues, RawBytesOfEveryTypeCode) {
  LayerBuilder b = LayerWithStoredFields();
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetFieldCount(), static_cast<int>(std::size(kStoredFields)));
  ASSERT_EQ(r.GetRecordCount(), 2);
  for (int f = 0; f < r.GetFieldCount(); ++f) {
    const StoredField& s = kStoredFields[f];
    SCOPED_TRACE(s.name);
    char name[32] = {};
    int size = -1;
    const std::int32_t type = r.GetFieldInfo(f, name, &size, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<std::int8_t>(s.type)) << "the stored code, as a signed byte";
    EXPECT_STREQ(name, s.name);
    ASSERT_EQ(size, static_cast<int>(s.bytes.size()));
    const char* value = r.ReadAttribute(0, f, type);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(value, value + size), s.bytes);
    EXPECT_EQ(value[size], 0) << "a 0 byte follows the value";
  }
}

// Each typed read takes its value from the start of the field's bytes, which count as 0 beyond
// the field's size; so every typed read of every field gives the zero-extended stored bytes.
struct TypedRead {
  const char* name;
  std::size_t width;
  std::vector<std::uint8_t> (*read)(MapGis_FastReader&, int record, int field);
};

const TypedRead kTypedReads[] = {
    {"ReadByteAttribute", 1, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadByteAttribute(i, f)); }},
    {"ReadShortAttribute", 2, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadShortAttribute(i, f)); }},
    {"ReadLongAttribute", 4, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadLongAttribute(i, f)); }},
    {"ReadFloatAttribute", 4, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadFloatAttribute(i, f)); }},
    {"ReadDoubleAttribute", 8, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadDoubleAttribute(i, f)); }},
    {"ReadDateAttribute", 4, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadDateAttribute(i, f)); }},
    {"ReadTimeAttribute", 10, [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadTimeAttribute(i, f)); }},
    {"ReadTimeStampAttribute", 16,
     [](MapGis_FastReader& r, int i, int f) { return KvxTest::BytesOf(r.ReadTimeStampAttribute(i, f)); }},
    {"ReadBinareyAttribute (low four bytes)", 4,
     [](MapGis_FastReader& r, int i, int f) {
       return KvxTest::BytesOf(static_cast<std::uint32_t>(r.ReadBinareyAttribute(i, f)));
     }},
};

TEST(LayerAttributesValues, TypedReadsOfEveryField) {
  LayerBuilder b = LayerWithStoredFields();
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  for (int f = 0; f < static_cast<int>(std::size(kStoredFields)); ++f) {
    const StoredField& s = kStoredFields[f];
    for (const TypedRead& t : kTypedReads) {
      SCOPED_TRACE(testing::Message() << t.name << " of " << s.name);
      std::vector<std::uint8_t> expected = s.bytes;
      expected.resize(t.width, 0);
      EXPECT_EQ(t.read(r, 0, f), expected);
      EXPECT_EQ(t.read(r, 1, f), std::vector<std::uint8_t>(t.width, 0)) << "record 1 is all zeros";
    }
    EXPECT_EQ(r.ReadBoolAttribute(0, f), s.bytes[0] != 0) << s.name;
    EXPECT_FALSE(r.ReadBoolAttribute(1, f)) << s.name;
  }
  // The decoded values, for the record.
  EXPECT_EQ(r.ReadByteAttribute(0, 1), 200);
  EXPECT_EQ(r.ReadShortAttribute(0, 2), -1234);
  EXPECT_EQ(r.ReadLongAttribute(0, 3), -123456789);
  EXPECT_EQ(r.ReadFloatAttribute(0, 4), 1.5f);
  EXPECT_EQ(r.ReadDoubleAttribute(0, 5), -2.25);
  const DATE_STRUstruct date = r.ReadDateAttribute(0, 6);
  EXPECT_EQ(+date.year, 2023);
  EXPECT_EQ(+date.month, 7);
  EXPECT_EQ(+date.day, 14);
  const TIME_STRUstruct time = r.ReadTimeAttribute(0, 7);
  EXPECT_EQ(+time.hour, 13);
  EXPECT_EQ(+time.second, 30.5);
  EXPECT_TRUE(r.ReadBoolAttribute(0, 8));
  const TIMESTAMPstruct stamp = r.ReadTimeStampAttribute(0, 10);
  EXPECT_EQ(+stamp.year, 2024);
  EXPECT_EQ(+stamp.second, 58);
  EXPECT_EQ(+stamp.fraction, 123456);
  EXPECT_STREQ(r.ReadStringAttribute(0, 0), "hello");
  EXPECT_STREQ(r.ReadTextAttribute(0, 9), "text");
  // Reading back and forth between records finds each record again.
  EXPECT_EQ(r.ReadLongAttribute(1, 3), 0);
  EXPECT_EQ(r.ReadLongAttribute(0, 3), -123456789);
}

TEST(LayerAttributesValues, BlanksAreTrimmedForStringAndTextOnly) {
  const struct {
    const char* name;
    std::string stored;   // 7 bytes
    int type;             // the type handed to ReadAttribute
    std::string expected;
  } cases[] = {
      {"string, blanks on both sides", "  abc  ", FieldString, "abc"},
      {"text, blanks on both sides", "  abc  ", FieldText, "abc"},
      {"type 1 gives all bytes", "  abc  ", FieldByte, "  abc  "},
      {"type 12 gives all bytes", "  abc  ", 12, "  abc  "},
      {"leading blanks", "    abc", FieldString, "abc"},
      {"trailing blanks", "abc    ", FieldText, "abc"},
      {"inner blanks stay", " a b c ", FieldString, "a b c"},
      {"only blanks", "       ", FieldString, ""},
      {"blanks before the zero padding", std::string("ab  \0\0\0", 7), FieldString, "ab"},
  };
  LayerBuilder b(KindTable);
  AttributeArea& a = b.Attributes(0);
  for (const auto& c : cases) a.SetText(0, a.AddField(c.name, FieldString, 7), c.stored);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetRecordCount(), 1);
  for (int f = 0; f < static_cast<int>(std::size(cases)); ++f) {
    const auto& c = cases[f];
    SCOPED_TRACE(c.name);
    const char* value = r.ReadAttribute(0, f, c.type);
    ASSERT_NE(value, nullptr);
    if (c.type == FieldString || c.type == FieldText) {
      EXPECT_EQ(std::string(value), c.expected);
      const char* typed = c.type == FieldString ? r.ReadStringAttribute(0, f) : r.ReadTextAttribute(0, f);
      ASSERT_NE(typed, nullptr);
      EXPECT_EQ(std::string(typed), c.expected);
    } else {
      EXPECT_EQ(std::string(value, 7), c.expected);
      EXPECT_EQ(value[7], 0);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Field descriptions and lookup

TEST(LayerAttributesFields, NameIsTheFirstWord) {
  const struct {
    std::string stored;   // raw 20-byte name field, NUL-padded
    const char* expected;
  } cases[] = {
      {"NAME", "NAME"},
      {"word  word", "word"},
      {"  lead", "lead"},
      {"", "FieldErr"},
      {std::string(20, ' '), "FieldErr"},
      {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOPQRST"},
      {std::string("a\0bc", 4), "a"},
      {"\xC3\xFB\xB3\xC6 x", "\xC3\xFB\xB3\xC6"},
  };
  LayerBuilder b(KindTable);
  AttributeArea& a = b.Attributes(0);
  for (const auto& c : cases) a.AddField(c.stored, FieldLong);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetFieldCount(), static_cast<int>(std::size(cases)));
  for (int f = 0; f < static_cast<int>(std::size(cases)); ++f) {
    SCOPED_TRACE(testing::Message() << "field " << f);
    char name[40];
    std::memset(name, 'Z', sizeof name);
    EXPECT_EQ(r.GetFieldInfo(f, name, nullptr, nullptr, nullptr), FieldLong);
    ASSERT_NE(std::memchr(name, 0, 32), nullptr) << "terminated within 32 bytes";
    EXPECT_STREQ(name, cases[f].expected);
    EXPECT_EQ(std::string(name + 32, 8), std::string(8, 'Z')) << "nothing written past 32 bytes";
  }
}

TEST(LayerAttributesFields, SizeWidthAndDecimals) {
  enum Want { kSize = 1, kWidth = 2, kDecimals = 4, kAll = 7 };
  const struct {
    const char* name;
    std::int16_t size, width;
    std::int8_t decimals;
    int want;
    std::int32_t expected;
  } cases[] = {
      {"all delivered", 8, 12, 3, kAll, FieldDouble},
      {"none requested", 8, 12, 3, 0, FieldDouble},
      {"negative size requested", -2, 12, 3, kSize, St::BadAttribute},
      {"negative size not requested", -2, 12, 3, kWidth | kDecimals, FieldDouble},
      {"negative width requested", 8, -1, 3, kWidth, St::BadAttribute},
      {"negative width not requested", 8, -1, 3, kSize | kDecimals, FieldDouble},
      {"negative decimals requested", 8, 12, -1, kDecimals, St::BadAttribute},
      {"negative decimals not requested", 8, 12, -1, kSize | kWidth, FieldDouble},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(KindTable);
    AttributeArea& a = b.Attributes(0);
    a.AddField("AMOUNT", FieldDouble, 8, 12, 3);
    a.Field(0).size = c.size;
    a.Field(0).width = c.width;
    a.Field(0).decimals = c.decimals;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    ASSERT_EQ(r.GetFieldCount(), 1);
    int size = -100, width = -100, decimals = -100;
    const std::int32_t result = r.GetFieldInfo(0, nullptr, (c.want & kSize) ? &size : nullptr,
                                               (c.want & kWidth) ? &width : nullptr,
                                               (c.want & kDecimals) ? &decimals : nullptr);
    EXPECT_EQ(result, c.expected);
    if (result == FieldDouble) {
      if (c.want & kSize) {
        EXPECT_EQ(size, c.size);
      }
      if (c.want & kWidth) {
        EXPECT_EQ(width, c.width);
      }
      if (c.want & kDecimals) {
        EXPECT_EQ(decimals, c.decimals);
      }
    }
  }
}

TEST(LayerAttributesFields, FieldInfoNeedsALoadedStructureAndAValidIndex) {
  LayerBuilder b = LayerWithStoredFields();
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  char name[32];
  EXPECT_EQ(r.GetFieldInfo(0, name, nullptr, nullptr, nullptr), St::BadAttribute) << "nothing loaded yet";
  ASSERT_EQ(r.GetRecordCount(), 2);
  EXPECT_EQ(r.GetFieldInfo(0, name, nullptr, nullptr, nullptr), FieldString);
  const int count = static_cast<int>(std::size(kStoredFields));
  for (int bad : {-1, count, 1000}) EXPECT_EQ(r.GetFieldInfo(bad, name, nullptr, nullptr, nullptr), St::BadAttribute) << bad;
}

TEST(LayerAttributesFields, LookupByName) {
  LayerBuilder b(KindTable);
  AttributeArea& a = b.Attributes(0);
  for (std::string_view name : {"Name", "Area  Size", "  Code", "", "ABCDEFGHIJKLMNOPQRST", "name"})
    a.AddField(name, FieldLong);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  EXPECT_EQ(r.GetFieldIndex("Name"), -1) << "no structure loaded";
  ASSERT_EQ(r.GetFieldCount(), 6);

  const struct {
    std::string query;
    int expected;
  } cases[] = {
      {"Name", 0},
      {"NAME", 0},
      {"nAmE", 0},
      {"area", 1},
      {"AREA and more words", 1},
      {"  code  ", 2},
      {"abcdefghijklmnopqrst", 4},
      {"Size", -1},
      {"Nam", -1},
      {"Names", -1},
      {"", -1},
      {"   ", -1},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", -1},   // 32 characters, starting with a stored name
      {std::string(1000, 'N'), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(r.GetFieldIndex(c.query.c_str()), c.expected) << "'" << c.query << "'";
}

// ---------------------------------------------------------------------------------------------
// Records, ranges and damaged areas

TEST(LayerAttributesRecords, RecordCountLeavesOutThePlaceholder) {
  KvxTest::TempDir dir;
  for (int records : {0, 1, 3}) {
    LayerBuilder b(KindTable);
    AttributeArea& a = b.Attributes(0);
    a.AddField("ID", FieldLong);
    a.SetRecordCount(records);
    for (int i = 0; i < records; ++i) a.SetValue<std::int32_t>(i, 0, 10 + i);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    EXPECT_EQ(r.GetRecordCount(), records);
    EXPECT_EQ(r.GetFieldCount(), 1);
    for (int i = 0; i < records; ++i) EXPECT_EQ(r.ReadLongAttribute(i, 0), 10 + i);
  }
}

// Every way of reading that must give nothing: null from ReadAttribute, zeros from typed reads.
void ExpectNothing(MapGis_FastReader& r, int record, int field) {
  EXPECT_EQ(r.ReadAttribute(record, field, FieldByte), nullptr);
  EXPECT_EQ(r.ReadAttribute(record, field, FieldString), nullptr);
  EXPECT_EQ(r.ReadStringAttribute(record, field), nullptr);
  EXPECT_EQ(r.ReadTextAttribute(record, field), nullptr);
  EXPECT_EQ(r.ReadByteAttribute(record, field), 0);
  EXPECT_EQ(r.ReadShortAttribute(record, field), 0);
  EXPECT_EQ(r.ReadLongAttribute(record, field), 0);
  EXPECT_EQ(r.ReadFloatAttribute(record, field), 0.0f);
  EXPECT_EQ(r.ReadDoubleAttribute(record, field), 0.0);
  EXPECT_FALSE(r.ReadBoolAttribute(record, field));
  EXPECT_EQ(KvxTest::BytesOf(r.ReadDateAttribute(record, field)), std::vector<std::uint8_t>(4, 0));
  EXPECT_EQ(KvxTest::BytesOf(r.ReadTimeAttribute(record, field)), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(KvxTest::BytesOf(r.ReadTimeStampAttribute(record, field)), std::vector<std::uint8_t>(16, 0));
  EXPECT_EQ(r.ReadBinareyAttribute(record, field), 0);
}

// Two long fields, A at 1 and B at 5, records of 9 bytes; every byte of record 0 but byte 0 is 0x7F
// and record 1 holds 0x11 bytes, so a read that strays shows non-zero bytes.
LayerBuilder TwoLongFields() {
  LayerBuilder b(KindTable);
  AttributeArea& a = b.Attributes(0);
  a.AddField("A", FieldLong);
  a.AddField("B", FieldLong);
  for (int f = 0; f < 2; ++f) {
    a.SetValue<std::uint32_t>(0, f, 0x7F7F7F7Fu);
    a.SetValue<std::uint32_t>(1, f, 0x11111111u);
  }
  return b;
}

TEST(LayerAttributesRecords, OutOfRangeRecordsAndFieldsGiveNothing) {
  LayerBuilder b = TwoLongFields();
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetRecordCount(), 2);
  const struct {
    int record, field;
  } cases[] = {{-1, 0}, {2, 0}, {1000, 1}, {0, -1}, {0, 2}, {1, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "record " << c.record << ", field " << c.field);
    ExpectNothing(r, c.record, c.field);
  }
  // In range after all of that.
  EXPECT_EQ(r.ReadLongAttribute(1, 1), 0x11111111);
}

TEST(LayerAttributesRecords, FieldOutsideTheRecordGivesNothing) {
  const struct {
    const char* name;
    std::int32_t offset;
    std::int16_t size;
    bool readable;
  } cases[] = {
      {"ends at the end of the record", 5, 4, true},
      {"one byte past the end of the record", 6, 4, false},
      {"starts at the end of the record", 9, 1, false},
      {"far too large", 1, 30000, false},
      {"negative offset", -1, 4, false},
      {"offset far beyond", 1 << 30, 4, false},
      {"negative size", 1, -4, false},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b = TwoLongFields();
    b.Attributes(0).Field(1).offset = c.offset;
    b.Attributes(0).Field(1).size = c.size;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    ASSERT_EQ(r.GetRecordCount(), 2);
    if (c.readable) {
      EXPECT_EQ(r.ReadLongAttribute(0, 1), 0x7F7F7F7F);
      EXPECT_NE(r.ReadAttribute(0, 1, FieldLong), nullptr);
    } else {
      ExpectNothing(r, 0, 1);
    }
    EXPECT_EQ(r.ReadLongAttribute(0, 0), 0x7F7F7F7F) << "the sound field still reads";
  }
}

TEST(LayerAttributesRecords, DamagedAreaHeads) {
  const struct {
    const char* name;
    void (*damage)(AttributeArea&);
    std::int32_t fieldCount;    // GetFieldCount
    std::int32_t recordCount;   // GetRecordCount
    bool valuesReadable;
  } cases[] = {
      // The field definitions are sound, but a record count the file cannot hold is reported as a
      // read failure, so a conversion stops with an error instead of writing empty values.
      {"records beyond the end of the file", [](AttributeArea& a) { a.overrides.recordsOffset = 1 << 30; }, 2,
       St::ReadFailed, false},
      {"more records than stored", [](AttributeArea& a) { a.overrides.recordCount = 100000; }, 2, St::ReadFailed,
       false},
      {"more field definitions than stored", [](AttributeArea& a) { a.overrides.fieldCount = 500; },
       St::ReadFailed, St::ReadFailed, false},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b = TwoLongFields();
    c.damage(b.Attributes(0));
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    EXPECT_EQ(r.GetFieldCount(), c.fieldCount);
    EXPECT_EQ(r.GetRecordCount(), c.recordCount);
    if (!c.valuesReadable) ExpectNothing(r, 0, 0);
  }
}

}  // namespace
