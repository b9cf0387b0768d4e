#include "styles/label_markup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "vordex/text_encoding.h"

namespace {

using namespace Kvx;
using MapGis::MAPGIS_PntInfo;

// GBK bytes (checked with iconv).
const std::string kComma = "\xA3\xAC";         // ，
const std::string kZhong = "\xD6\xD0";         // 中
const std::string kWen = "\xCE\xC4";           // 文
const std::string kZi = "\xD7\xD6";            // 字
const std::string kXie = "\xD6\x78";           // 謝 (its second byte is the letter x)
const std::string kFullWidthA = "\xA3\xC1";    // Ａ
const std::string kSongTi = "\xCB\xCE\xCC\xE5";  // 宋体
const std::string kHeiTi = "\xBA\xDA\xCC\xE5";   // 黑体
const std::string kKaiTi = "\xBF\xAC\xCC\xE5";   // 楷体

constexpr std::int32_t kColor = 10 + 256 * 20 + 65536 * 30;
const std::string kColorTag = "<CLR red='10' green='20' blue='30'>";

// Characters 4 mm wide: 1.10 * 2.8345 * 4 points.
MAPGIS_PntInfo Note(float textWidth = 4.0f) {
  MAPGIS_PntInfo info{};
  info.flag = 1;
  info.textHeight = textWidth;
  info.textWidth = textWidth;
  info.chineseFont = 4;  // 楷体
  info.westernFont = 1;  // 宋体
  return info;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// What lies between the colour tag and the closing tags; "?" when the frame is not whole.
std::string Body(const std::string& markup) {
  const auto open = markup.find("'>", markup.find("<CLR "));
  const std::string close = "</CLR></FNT>";
  if (open == std::string::npos || markup.size() < close.size() ||
      markup.compare(markup.size() - close.size(), close.size(), close) != 0) {
    return "?";
  }
  return markup.substr(open + 2, markup.size() - close.size() - open - 2);
}

std::string FontOf(const std::string& markup) {
  const std::string open = "<FNT name='";
  if (markup.rfind(open, 0) != 0) return "?";
  return markup.substr(open.size(), markup.find('\'', open.size()) - open.size());
}

// True when the bytes are GBK text throughout: no character is cut in half.
bool IsWholeGbk(const std::string& s) { return MapGis::GbkToUtf8(s).find("\xEF\xBF\xBD") == std::string::npos; }

class LabelMarkupTest : public ::testing::Test {
 protected:
  // FontAdjust 1.10 and SingleFont "Times New Roman", as a run hands them in.
  LabelSettings labels_;
};

using NoteLabel = LabelMarkupTest;
using TextLabel = LabelMarkupTest;
using BlockLabel = LabelMarkupTest;
using LabelLimits = LabelMarkupTest;

// ---- The frame ------------------------------------------------------------------------------------

TEST_F(NoteLabel, FrameHoldsFontSizeColourAndBody) {
  const MAPGIS_PntInfo info = Note();
  EXPECT_EQ(FormatNoteLabel(&info, "abc", kColor, labels_),
            "<FNT name='" + kSongTi + "' size='12.5'>" + kColorTag + "abc</CLR></FNT>");
  EXPECT_EQ(FormatNoteLabel(&info, "abc", 0x00FFFFFF, labels_),
            "<FNT name='" + kSongTi + "' size='12.5'><CLR red='255' green='255' blue='255'>abc</CLR></FNT>");
  // Only the three colour bytes count.
  EXPECT_EQ(FormatNoteLabel(&info, "abc", -1, labels_), FormatNoteLabel(&info, "abc", 0x00FFFFFF, labels_));
}

TEST_F(NoteLabel, FontSizeFollowsFontAdjust) {
  const MAPGIS_PntInfo info = Note();
  const struct {
    float adjust;
    const char* size;
  } cases[] = {
      {1.10f, "12.5"},
      {2.0f, "22.7"},
      {0.0f, "11.3"},   // out of range: 1.0
      {11.0f, "11.3"},  // out of range: 1.0
  };
  for (const auto& c : cases) {
    labels_.fontAdjust = c.adjust;
    const std::string markup = FormatNoteLabel(&info, "a", kColor, labels_);
    EXPECT_NE(markup.find(std::string("size='") + c.size + "'"), std::string::npos) << c.adjust << ": " << markup;
  }
}

TEST_F(LabelLimits, NullOrEmptyInputGivesNoLabel) {
  const MAPGIS_PntInfo info = Note();
  EXPECT_EQ(FormatNoteLabel(nullptr, "abc", kColor, labels_), "");
  EXPECT_EQ(FormatNoteLabel(&info, nullptr, kColor, labels_), "");
  EXPECT_EQ(FormatNoteLabel(&info, "", kColor, labels_), "");
  EXPECT_EQ(FormatTextLabel(nullptr, "abc", "Arial", kColor, labels_), "");
  EXPECT_EQ(FormatTextLabel(&info, nullptr, "Arial", kColor, labels_), "");
  EXPECT_EQ(FormatTextLabel(&info, "abc", nullptr, kColor, labels_), "");
  EXPECT_EQ(FormatTextLabel(&info, "", "Arial", kColor, labels_), "");
  EXPECT_EQ(FormatBlockLabel(nullptr, "abc", kColor, labels_), "");
  EXPECT_EQ(FormatBlockLabel(&info, nullptr, kColor, labels_), "");
  EXPECT_EQ(FormatBlockLabel(&info, "", kColor, labels_), "");
}

// ---- Inline codes ------------------------------------------------------------------------------------

struct InlineCase {
  std::string text;
  std::string noteBody;
  std::string textBody;
};

TEST_F(NoteLabel, InlineCodesOfNoteAndTextLabels) {
  const InlineCase cases[] = {
      {"H#+2#=O", "H<SUP>2</SUP>O", "H<SUP>2</SUP>O"},
      {"H#-2#=O", "H<SUB>2</SUB>O", "H<SUB>2</SUB>O"},
      {"a#+2#-3#=b", "a<SUP>2</SUP><SUB>3</SUB>b", "a<SUP>2</SUP><SUB>3</SUB>b"},
      {"a#-2#+3", "a<SUB>2</SUB><SUP>3</SUP>", "a<SUB>2</SUB><SUP>3</SUP>"},
      {"x#+2", "x<SUP>2</SUP>", "x<SUP>2</SUP>"},           // closed at the end
      {"a#+2#+3", "a<SUP>23</SUP>", "a<SUP>23</SUP>"},       // a repeated code opens no second tag
      {"a#=b", "ab", "ab"},
      {"a#b#", "a#b#", "a#b#"},
      {"/abc/", "<UND>abc</UND>", "<UND>abc</UND>"},
      {"/a/b/", "<UND>a</UND>\r\nb", "<UND>a</UND>\r\nb"},
      {"/a#+2/", "<UND>a<SUP>2</SUP></UND>", "<UND>a<SUP>2</SUP></UND>"},
      {"/a#=b/", "<UND>ab</UND>", "<UND>ab</UND>"},          // "#=" keeps the underline balanced
      {"/a#+2/b/", "<UND>a<SUP>2b</SUP></UND>", "<UND>a<SUP>2b</SUP></UND>"},
      {"/a//", "<UND>a/</UND>", "<UND>a/</UND>"},            // the last scanned byte is copied
      {"//", "<UND></UND>", "<UND></UND>"},
      {"/", "/", "/"},
      {"a/b", "ab", "ab"},
      {"a/", "a/", "a/"},
      {"a,b", "a" + kComma + "b", "a" + kComma + "b"},
      {"a,", "a", "a"},
      {"a,,", "a" + kComma, "a" + kComma},
      {"x<y&z", "x&lt;y&amp;z", "x&lt;y&amp;z"},
      {"x<", "x<", "x<"},
      {"x&", "x&", "x&"},
      {"a b c ", "a b c ", "abc"},
      {kZhong + "," + kWen, kZhong + kComma + kWen, kZhong + kComma + kWen},
      {"#+" + kZhong + "#=" + kXie, "<SUP>" + kZhong + "</SUP>" + kXie, "<SUP>" + kZhong + "</SUP>" + kXie},
  };
  const MAPGIS_PntInfo info = Note();
  for (const auto& c : cases) {
    EXPECT_EQ(Body(FormatNoteLabel(&info, c.text.c_str(), kColor, labels_)), c.noteBody) << "note: " << c.text;
    EXPECT_EQ(Body(FormatTextLabel(&info, c.text.c_str(), "Arial", kColor, labels_)), c.textBody) << "text: " << c.text;
  }
}

TEST_F(NoteLabel, SpacingItalicAndBoldWrapTheBody) {
  const struct {
    float spacing;
    float textWidth;
    std::int8_t fontStyle;
    std::int16_t westernFont;
    std::string body;
  } cases[] = {
      {1.0f, 4.0f, 0, 1, "<CHR spacing='25.0'>abc</CHR>"},
      {0.0f, 4.0f, 0, 1, "abc"},
      {-1.0f, 4.0f, 0, 1, "abc"},
      {1.0f, 0.0f, 0, 1, "abc"},  // no character width: no spacing tag rather than an infinite one
      {0.0f, 4.0f, 2, 1, "<ITA>abc</ITA>"},
      {0.0f, 4.0f, -1, 1, "abc"},
      {0.0f, 4.0f, 0, 3, "<BOL>abc</BOL>"},
      {1.0f, 4.0f, 1, 3, "<BOL><ITA><CHR spacing='25.0'>abc</CHR></ITA></BOL>"},
  };
  for (const auto& c : cases) {
    MAPGIS_PntInfo info = Note(c.textWidth);
    info.spacing = c.spacing;
    info.fontStyle = c.fontStyle;
    info.westernFont = c.westernFont;
    EXPECT_EQ(Body(FormatNoteLabel(&info, "abc", kColor, labels_)), c.body)
        << c.spacing << " " << c.textWidth << " " << int{c.fontStyle} << " " << c.westernFont;
  }

  MAPGIS_PntInfo info = Note();
  info.spacing = 1.0f;
  info.fontStyle = 1;
  info.westernFont = 3;
  EXPECT_EQ(FormatNoteLabel(&info, "H#+2#=O", kColor, labels_),
            "<FNT name='" + kHeiTi + "' size='12.5'>" + kColorTag +
                "<BOL><ITA><CHR spacing='25.0'>H<SUP>2</SUP>O</CHR></ITA></BOL></CLR></FNT>");
}

TEST_F(TextLabel, UsesTheGivenFontAndNoSpacingOrBoldTag) {
  MAPGIS_PntInfo info = Note();
  info.spacing = 1.0f;
  info.westernFont = 3;
  info.chineseFont = 3;
  EXPECT_EQ(FormatTextLabel(&info, "a b", kSongTi.c_str(), kColor, labels_),
            "<FNT name='" + kSongTi + "' size='12.5'>" + kColorTag + "ab</CLR></FNT>");
  info.fontStyle = 1;
  EXPECT_EQ(Body(FormatTextLabel(&info, "a b", "Arial", kColor, labels_)), "<ITA>ab</ITA>");
}

// ---- Font choice ------------------------------------------------------------------------------------------

TEST_F(NoteLabel, FontFollowsTheKindOfText) {
  const std::string chinese = kZhong + kWen;
  const struct {
    std::string text;
    std::int16_t chineseFont;
    std::int16_t westernFont;
    std::string font;
    bool bold;
  } cases[] = {
      {chinese, 0, 1, "Times New Roman", false},  // font 0: the SingleFont setting
      {chinese, 4, 3, kKaiTi, false},
      {chinese, 3, 1, kHeiTi, true},
      {"abc", 4, 3, kHeiTi, true},
      {"abc", 4, 0, "Times New Roman", false},
      {"a" + kZhong, 4, 1, kKaiTi, false},
      {"ab\xD6", 4, 1, kSongTi, false},  // the last byte has no follower to make a pair with
      {kZhong + "a", 4, 1, kKaiTi, false},
      {kFullWidthA, 4, 1, kSongTi, false},   // no GB2312 character pair
      {kXie, 4, 1, kSongTi, false},
  };
  for (const auto& c : cases) {
    MAPGIS_PntInfo info = Note();
    info.chineseFont = c.chineseFont;
    info.westernFont = c.westernFont;
    const std::string markup = FormatNoteLabel(&info, c.text.c_str(), kColor, labels_);
    EXPECT_EQ(FontOf(markup), c.font) << c.text;
    EXPECT_EQ(Body(markup).rfind("<BOL>", 0) == 0, c.bold) << c.text;
  }
}

TEST_F(LabelLimits, SingleFontIsWrittenAsHandedIn) {
  labels_.singleFont = kSongTi;
  MAPGIS_PntInfo info = Note();
  info.westernFont = 0;
  EXPECT_EQ(FontOf(FormatNoteLabel(&info, "abc", kColor, labels_)), kSongTi);
  EXPECT_EQ(FontOf(FormatBlockLabel(&info, "abc", kColor, labels_)), kSongTi);
}

// ---- Text blocks --------------------------------------------------------------------------------------------

TEST_F(BlockLabel, ReflowsTheTextIntoLinesOfTheBlock) {
  const std::string chinese = kZhong + kWen + kZi;
  const struct {
    float width;
    float height;
    std::int8_t vertical;
    std::string text;
    std::string body;
  } cases[] = {
      // 20 mm wide, characters 5 mm wide: four characters, 8 bytes, a line.
      {20, 0, 0, "abcdefghijkl", "abcdefgh\r\nijkl"},
      {20, 0, 0, "abcdefgh", "abcdefgh\r\n"},
      {20, 0, 0, chinese + chinese, kZhong + kWen + kZi + kZhong + "\r\n" + kWen + kZi},
      {20, 0, 0, "ab,cd efgh ij", "ab" + kComma + "cdefgh\r\nij"},  // "，" is not counted, blanks go
      {22, 0, 0, "abcdefghijkl", "abcdefgh\r\nijkl"},                  // 4.4 characters: 4
      {0, 10, 1, "abcdef", "abcd\r\nef"},                              // vertical: by height
      {4, 0, 0, "ab", "a\r\nb\r\n"},                                   // no whole character: every byte
      {-20, 0, 0, "ab", "a\r\nb\r\n"},
      {1000, 0, 0, "x<y&z #+2", "x<y&z#+2"},                           // no codes, no escapes
      {1000, 0, 0, "a" + kXie + "b", "a" + kXie + "b"},                // a character with a low second byte
      {1000, 0, 0, "a\xB0", "a"},                                      // a stray byte is dropped
      {1000, 0, 0, "\x80" "a\xFF" "b", "ab"},
  };
  for (const auto& c : cases) {
    MAPGIS_PntInfo info = Note(5.0f);
    info.alignment5 = c.vertical;
    SetBlockSize(info, c.width, c.height);
    EXPECT_EQ(Body(FormatBlockLabel(&info, c.text.c_str(), kColor, labels_)), c.body) << c.text;
  }
}

TEST_F(BlockLabel, CharacterSizeOfZeroGivesOneLine) {
  MAPGIS_PntInfo info = Note(0.0f);
  SetBlockSize(info, 20, 20);
  EXPECT_EQ(Body(FormatBlockLabel(&info, "abcdefghijkl", kColor, labels_)), "abcdefghijkl");
  info.alignment5 = 1;
  EXPECT_EQ(Body(FormatBlockLabel(&info, "abcdefghijkl", kColor, labels_)), "abcdefghijkl");
  SetBlockSize(info, 0, 0);
  EXPECT_EQ(Body(FormatBlockLabel(&info, "abcdefghijkl", kColor, labels_)), "abcdefghijkl");
}

TEST_F(BlockLabel, FontChoiceWithoutTags) {
  MAPGIS_PntInfo info = Note(5.0f);
  SetBlockSize(info, 1000, 0);
  info.chineseFont = 3;
  info.westernFont = 0;
  info.fontStyle = 1;
  info.spacing = 1.0f;
  const std::string chinese = FormatBlockLabel(&info, (kZhong + "a").c_str(), kColor, labels_);
  EXPECT_EQ(FontOf(chinese), kHeiTi);
  EXPECT_EQ(Body(chinese), kZhong + "a");
  // Any byte of 0x80 or more makes the text Chinese, even one that is dropped.
  EXPECT_EQ(FontOf(FormatBlockLabel(&info, "ab\x80", kColor, labels_)), kHeiTi);
  EXPECT_EQ(FontOf(FormatBlockLabel(&info, "ab", kColor, labels_)), "Times New Roman");
}

TEST_F(BlockLabel, BlockSizeLiesAtRecordBytes58And62) {
  MAPGIS_PntInfo info{};
  const float width = 20.5f;
  const float height = 7.25f;
  auto* bytes = reinterpret_cast<unsigned char*>(&info);
  std::memcpy(bytes + 58, &width, sizeof width);
  std::memcpy(bytes + 62, &height, sizeof height);
  EXPECT_EQ(BlockWidth(info), width);
  EXPECT_EQ(BlockHeight(info), height);
  EXPECT_EQ(info.alignment5, 0);
  EXPECT_EQ(info.fontStyle, 0);
}

// ---- Long texts ---------------------------------------------------------------------------------------------------

TEST_F(LabelLimits, LongBodiesStopAtWholeCharacters) {
  const std::string chinese = Repeat(kZhong, 150);  // 300 bytes
  MAPGIS_PntInfo info = Note();
  const struct {
    std::string text;
    std::string body;
  } cases[] = {
      {std::string(200, 'x'), std::string(160, 'x') + "..."},
      {std::string(200, '&'), Repeat("&amp;", 32) + "..."},
      {"/" + std::string(200, 'x') + "/", "<UND>" + std::string(155, 'x') + "...</UND>"},
      {"#+" + std::string(200, 'x'), "<SUP>" + std::string(155, 'x') + "...</SUP>"},
      {chinese, Repeat(kZhong, 80) + "..."},
      {"a" + chinese, "a" + Repeat(kZhong, 80) + "..."},  // 161 bytes: the last character stays whole
  };
  for (const auto& c : cases) {
    const std::string markup = FormatNoteLabel(&info, c.text.c_str(), kColor, labels_);
    EXPECT_EQ(Body(markup), c.body) << c.text;
    EXPECT_LE(markup.size(), kLabelMaxBytes);
  }
}

TEST_F(LabelLimits, TextLabelOfALongTextTakesTheWholeText) {
  MAPGIS_PntInfo info = Note();
  // Longer than 159 bytes once formatted: the raw text with "...", 203 bytes; the markup is cut
  // at 259 bytes, the closing tags with it.
  const std::string text = Repeat("a,", 100);
  const std::string markup = FormatTextLabel(&info, text.c_str(), "A", kColor, labels_);
  EXPECT_EQ(markup.size(), kLabelMaxBytes);
  const std::string prefix = "<FNT name='A' size='12.5'>" + kColorTag;
  ASSERT_EQ(markup.rfind(prefix, 0), 0u);
  EXPECT_EQ(markup.substr(prefix.size()), text.substr(0, kLabelMaxBytes - prefix.size()));

  // A short text with many blanks stays below the limit and is formatted.
  const std::string spaced = Repeat("a ", 120);
  EXPECT_EQ(Body(FormatTextLabel(&info, spaced.c_str(), "A", kColor, labels_)), std::string(120, 'a'));
}

TEST_F(LabelLimits, ChineseTextOf300BytesIsCutAtACharacter) {
  const std::string chinese = Repeat(kZhong + kWen, 75);  // 300 bytes
  // Font names of each length shift the cut by one byte, so it falls on both halves of a character.
  const char* fonts[] = {"A", "AB", "ABC", "ABCD"};
  for (const std::string& text : {chinese, "a" + chinese}) {
    MAPGIS_PntInfo info = Note();
    SetBlockSize(info, 1000, 0);  // no line breaks
    for (const char* font : fonts) {
      const std::string markup = FormatTextLabel(&info, text.c_str(), font, kColor, labels_);
      EXPECT_GE(markup.size(), kLabelMaxBytes - 1) << font;
      EXPECT_LE(markup.size(), kLabelMaxBytes) << font;
      EXPECT_TRUE(IsWholeGbk(markup)) << font;
      const std::string prefix = std::string("<FNT name='") + font + "' size='12.5'>" + kColorTag;
      ASSERT_EQ(markup.rfind(prefix, 0), 0u);
      EXPECT_EQ(text.rfind(markup.substr(prefix.size()), 0), 0u) << "the body is the text from its start";
    }
    for (const std::string& markup :
         {FormatNoteLabel(&info, text.c_str(), kColor, labels_), FormatBlockLabel(&info, text.c_str(), kColor, labels_)}) {
      EXPECT_LE(markup.size(), kLabelMaxBytes);
      EXPECT_TRUE(IsWholeGbk(markup));
      const std::string body = Body(markup);
      ASSERT_GE(body.size(), 3u);
      EXPECT_EQ(body.substr(body.size() - 3), "...");
      EXPECT_EQ(text.rfind(body.substr(0, body.size() - 3), 0), 0u);
    }
  }
}

TEST_F(LabelLimits, TextBufferIsReadNoFurtherThanItsSize) {
  // 260 bytes without a terminating zero: only the first 259 count, and not half a character.
  char buffer[260];
  for (std::size_t i = 0; i < sizeof buffer; i += 2) std::memcpy(buffer + i, kZhong.data(), 2);
  buffer[0] = 'a';  // shifts the characters, so byte 259 would split one
  MAPGIS_PntInfo info = Note();
  const std::string markup = FormatTextLabel(&info, buffer, "", kColor, labels_);
  EXPECT_TRUE(IsWholeGbk(markup));
  EXPECT_LE(markup.size(), kLabelMaxBytes);
  EXPECT_TRUE(IsWholeGbk(FormatNoteLabel(&info, buffer, kColor, labels_)));
  EXPECT_TRUE(IsWholeGbk(FormatBlockLabel(&info, buffer, kColor, labels_)));
}

TEST_F(LabelLimits, EveryMarkupFitsWhateverTheRecordHolds) {
  const std::string chinese = Repeat(kZhong, 150);
  const std::vector<std::string> texts = {
      chinese, "a" + chinese, "/" + Repeat("&<,", 100) + "/", Repeat("#+" + kWen + "#-" + kZi, 40),
  };
  labels_.singleFont = std::string(300, 'F');
  const float sizes[] = {0.0f, 4.0f, -4.0f, 3.0e38f, 1.0e-30f};
  for (const auto& text : texts) {
    for (float size : sizes) {
      MAPGIS_PntInfo info = Note(size);
      info.spacing = 3.0e38f;
      info.fontStyle = 1;
      info.chineseFont = 0;
      info.westernFont = 3;
      SetBlockSize(info, 3.0e38f, 1.0f);
      for (const std::string& markup : {FormatNoteLabel(&info, text.c_str(), kColor, labels_),
                                        FormatTextLabel(&info, text.c_str(), kHeiTi.c_str(), kColor, labels_),
                                        FormatBlockLabel(&info, text.c_str(), kColor, labels_)}) {
        EXPECT_LE(markup.size(), kLabelMaxBytes);
        EXPECT_TRUE(IsWholeGbk(markup)) << markup;
      }
    }
  }
}

}  // namespace
