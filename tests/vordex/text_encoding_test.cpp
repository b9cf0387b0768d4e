// GBK <-> UTF-8: ASCII copied as it is, Chinese both ways, and what cannot be converted marked.

#include "vordex/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(TextEncoding, BothDirectionsOneOffAndThroughOneCodec) {
  const struct Case {
    const char* name;
    std::string gbk;
    std::string utf8;
    bool roundTrip;  // utf8 goes back to exactly gbk
  } cases[] = {
      {"empty", "", "", true},
      {"ASCII with controls and a NUL", "roads\t01\r\n\0x"s, "roads\t01\r\n\0x"s, true},
      {"Chinese", "\xB5\xD8\xD6\xCA\xCD\xBC", "地质图", true},
      {"Chinese among ASCII", "a\xB5\xD8-1.wl", "a地-1.wl", true},
      {"a lead byte without its second byte", "ab\xB5", "ab\xEF\xBF\xBD", false},
      {"a byte that is no GBK", "x\xFFy", "x\xEF\xBF\xBDy", false},
      // The ASCII after a lead byte that has no second byte of its own is kept.
      {"a lead byte before a digit", "\xB5" "1\xB5\n", "\xEF\xBF\xBD" "1\xEF\xBF\xBD\n", false},
  };
  MapGis::GbkCodec codec;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MapGis::GbkToUtf8(c.gbk), c.utf8);
    EXPECT_EQ(codec.ToUtf8(c.gbk), c.utf8);
    if (c.roundTrip) {
      EXPECT_EQ(MapGis::Utf8ToGbk(c.utf8), c.gbk);
      EXPECT_EQ(codec.FromUtf8(c.utf8), c.gbk);
    }
  }
  // UTF-8 with no GBK form, and bytes that are no UTF-8.
  EXPECT_EQ(MapGis::Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");
  EXPECT_EQ(codec.FromUtf8("\xC3"), "?");
  EXPECT_EQ(codec.FromUtf8("\xB5\xD8"), "??");
  // The codec keeps no state from one string to the next.
  EXPECT_EQ(codec.ToUtf8("\xB5\xD8"), "地");
}

}  // namespace
