#include "styles/label_markup.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "settings/settings.h"
#include "vordex/conversions.h"
#include "vordex/text_encoding.h"

namespace Kvx {

namespace {

constexpr std::string_view kFullWidthComma = "\xA3\xAC";  // "，"
constexpr std::string_view kEllipsis = "...";
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::int32_t kBoldFont = 3;  // "黑体" is drawn bold
constexpr float kPointsPerMillimetre = 2.8345f;

// The block's width and height lie in the record's unnamed bytes 58..65.
constexpr std::size_t kBlockWidthByte = 58;
constexpr std::size_t kBlockHeightByte = 62;
constexpr std::size_t kUnusedByte = offsetof(MapGis::MAPGIS_PntInfo, unused55);
static_assert(kUnusedByte == 55);
static_assert(kBlockHeightByte + sizeof(float) <= kUnusedByte + sizeof(MapGis::MAPGIS_PntInfo::unused55));

// ---- GBK characters ------------------------------------------------------------------------------

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsGbkTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

unsigned char Byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// Bytes of the character that starts at i, looking no further than `end`: 2 for a lead byte with
// its trail byte, else 1.
std::size_t CharLength(std::string_view s, std::size_t i, std::size_t end) {
  return (i + 1 < end && IsGbkLead(Byte(s, i)) && IsGbkTrail(Byte(s, i + 1))) ? 2 : 1;
}

// The longest prefix of at most `limit` bytes that ends at a character boundary.
std::size_t PrefixLength(std::string_view s, std::size_t limit) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t len = CharLength(s, i, s.size());
    if (i + len > limit) break;
    i += len;
  }
  return i;
}

void CutTo(std::string& s, std::size_t limit) { s.resize(PrefixLength(s, limit)); }

// The annotation text: up to its zero, at most the bytes its buffer holds.
std::string_view ReadText(const char* text) {
  const std::string_view s(text, ::strnlen(text, kLabelTextMaxBytes + 1));
  return s.substr(0, PrefixLength(s, kLabelTextMaxBytes));
}

// ---- Numbers, fonts and the frame -----------------------------------------------------------------

// "%.1f" without regard to the process locale.
std::string OneDecimal(float value) {
  char buf[400];  // the widest double in fixed notation needs 309 digits and a sign
  const auto result = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::fixed, 1);
  if (result.ec != std::errc{}) return "0.0";
  return std::string(buf, result.ptr);
}

float FontAdjust(const LabelSettings& settings) {
  const float factor = settings.fontAdjust;
  return (factor >= kFontAdjustMin && factor <= kFontAdjustMax) ? factor : kFontAdjustFallback;
}

// Character width in millimetres to the font size in points, in single precision throughout.
float FontSize(const MapGis::MAPGIS_PntInfo& info, const LabelSettings& settings) {
  const float factor = FontAdjust(settings) * kPointsPerMillimetre;
  return factor * info.textWidth;
}

// Font 0 is the SingleFont setting; every other number is a MapGIS font.
std::string FontName(std::int32_t index, const LabelSettings& settings) {
  if (index == 0) return settings.singleFont;
  char name[MapGis::kFontNameBufferSize] = {};
  MapGis::GetFontName(index, name, sizeof name);
  return name;
}

std::string Frame(std::string_view fontName, float size, std::int32_t color, std::string_view body) {
  const auto packed = static_cast<std::uint32_t>(color);
  std::string out;
  out.reserve(128 + fontName.size() + body.size());
  out += "<FNT name='";
  out += fontName;
  out += "' size='";
  out += OneDecimal(size);
  out += "'><CLR red='";
  out += std::to_string(packed & 0xFFu);
  out += "' green='";
  out += std::to_string((packed >> 8) & 0xFFu);
  out += "' blue='";
  out += std::to_string((packed >> 16) & 0xFFu);
  out += "'>";
  out += body;
  out += "</CLR></FNT>";
  CutTo(out, kLabelMaxBytes);
  return out;
}

std::string Wrap(std::string_view open, const std::string& body, std::string_view close) {
  std::string out;
  out.reserve(open.size() + body.size() + close.size());
  out += open;
  out += body;
  out += close;
  return out;
}

// ---- Inline codes -----------------------------------------------------------------------------------

enum class Builder { Note, Text };
enum class Script { None, Super, Sub, Underline };

struct InlineBody {
  std::string body;
  bool chinese = false;    // a byte >= 0xB0 was followed by a byte >= 0xA1
  bool truncated = false;  // scanning stopped because the body grew past kLabelBodyLimit
};

// The body of a text with inline codes, with "..." when it was cut and every open tag closed.
InlineBody BuildInlineBody(std::string_view text, Builder builder) {
  InlineBody result;
  std::string& body = result.body;
  Script state = Script::None;
  bool underlineOpen = false;  // "<UND>" written and not yet closed

  std::size_t i = 0;
  std::size_t end = text.size();
  if (text.size() >= 2 && text.front() == '/' && text.back() == '/') {
    body += "<UND>";
    state = Script::Underline;
    underlineOpen = true;
    i = 1;
    end = text.size() - 1;
  }

  auto closeScript = [&] {
    if (state == Script::Super) body += "</SUP>";
    if (state == Script::Sub) body += "</SUB>";
  };
  auto noteChinese = [&](std::size_t from, std::size_t to) {
    for (std::size_t j = from; j < to && j + 1 < end; ++j) {
      if (Byte(text, j) >= 0xB0 && Byte(text, j + 1) >= 0xA1) result.chinese = true;
    }
  };

  while (i < end) {
    const std::size_t len = CharLength(text, i, end);
    const char c = text[i];
    if (builder == Builder::Note) noteChinese(i, i + len);

    if (len == 2) {
      body.append(text.substr(i, 2));
    } else if (i + 1 == end) {
      // The last byte has no follower: copied as it is, but a final "," (and, for a text
      // label, a final blank) is dropped.
      if (c != ',' && !(builder == Builder::Text && c == ' ')) body += c;
    } else if (c == '#') {
      const char n = text[i + 1];
      if (n == '=') {
        closeScript();
        state = Script::None;
        ++i;
      } else if (n == '+') {
        if (state != Script::Super) {
          if (state == Script::Sub) body += "</SUB>";
          body += "<SUP>";
          state = Script::Super;
        }
        ++i;
      } else if (n == '-') {
        if (state != Script::Sub) {
          if (state == Script::Super) body += "</SUP>";
          body += "<SUB>";
          state = Script::Sub;
        }
        ++i;
      } else {
        body += c;
      }
    } else if (c == '&') {
      body += "&amp;";
    } else if (c == '<') {
      body += "&lt;";
    } else if (c == ',') {
      body += kFullWidthComma;
    } else if (c == '/') {
      if (state == Script::Underline) {
        body += "</UND>\r\n";
        underlineOpen = false;
        state = Script::None;
      }
    } else if (c == ' ' && builder == Builder::Text) {
      // blanks are dropped from text labels
    } else {
      body += c;
    }
    i += len;

    if (body.size() > kLabelBodyLimit) {
      result.truncated = true;
      break;
    }
  }

  if (result.truncated) body += kEllipsis;
  closeScript();
  if (underlineOpen) body += "</UND>";
  return result;
}

std::string ItalicIfStyled(const MapGis::MAPGIS_PntInfo& info, std::string body) {
  return info.fontStyle > 0 ? Wrap("<ITA>", body, "</ITA>") : body;
}

}  // namespace

// ---- The builders ---------------------------------------------------------------------------------------

std::string FormatNoteLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, std::int32_t color,
                            const LabelSettings& settings) {
  if (info == nullptr || text == nullptr || *text == '\0') return {};
  const std::string_view source = ReadText(text);

  InlineBody built = BuildInlineBody(source, Builder::Note);
  std::string body = std::move(built.body);

  // A spacing that cannot be expressed (a character width of 0) gives no spacing tag.
  if (info->spacing > 0) {
    const float spacing = info->spacing * 100 / info->textWidth;
    if (std::isfinite(spacing)) body = Wrap("<CHR spacing='" + OneDecimal(spacing) + "'>", body, "</CHR>");
  }
  body = ItalicIfStyled(*info, std::move(body));
  const std::int32_t font = built.chinese ? info->chineseFont : info->westernFont;
  if (font == kBoldFont) body = Wrap("<BOL>", body, "</BOL>");

  return Frame(FontName(font, settings), FontSize(*info, settings), color, body);
}

std::string FormatTextLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, const char* fontName,
                            std::int32_t color, const LabelSettings& settings) {
  if (info == nullptr || text == nullptr || fontName == nullptr || *text == '\0') return {};
  const std::string_view source = ReadText(text);

  InlineBody built = BuildInlineBody(source, Builder::Text);
  std::string body = std::move(built.body);
  if (built.truncated) {
    // The whole text instead, as much of it as fits with the "..." behind it.
    body.assign(source.substr(0, PrefixLength(source, kLabelMaxBytes - kEllipsis.size())));
    body += kEllipsis;
  }
  body = ItalicIfStyled(*info, std::move(body));

  return Frame(fontName, FontSize(*info, settings), color, body);
}

std::string FormatBlockLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, std::int32_t color,
                             const LabelSettings& settings) {
  if (info == nullptr || text == nullptr || *text == '\0') return {};
  const std::string_view source = ReadText(text);

  // Characters per line, two bytes each. A block that holds no whole character breaks after every
  // byte; one whose size cannot be divided by the character size (0 or not a number) never breaks.
  const float perLine =
      info->alignment5 != 0 ? BlockHeight(*info) / info->textHeight : BlockWidth(*info) / info->textWidth;
  constexpr float kUnbounded = 1.0e6f;  // far beyond any body
  std::size_t lineLimit = 0;
  if (!(perLine < kUnbounded)) {
    lineLimit = 2 * static_cast<std::size_t>(kUnbounded);
  } else if (perLine >= 1) {
    lineLimit = 2 * static_cast<std::size_t>(std::trunc(perLine));
  }

  std::string body;
  bool chinese = false;
  std::size_t lineBytes = 0;
  for (std::size_t i = 0; i < source.size() && body.size() < kBlockBodyLimit; ++i) {
    const unsigned char c = Byte(source, i);
    if (c >= 0x80) {
      chinese = true;
      // A whole double-byte character is copied; a stray byte is dropped.
      if (CharLength(source, i, source.size()) == 2) {
        body.append(source.substr(i, 2));
        lineBytes += 2;
        ++i;
      }
    } else if (c == ',') {
      body += kFullWidthComma;
    } else if (c != ' ') {
      body += static_cast<char>(c);
      ++lineBytes;
    }
    if (lineBytes >= lineLimit) {
      body += kLineBreak;
      lineBytes = 0;
    }
  }
  if (body.size() >= kBlockBodyLimit) body += kEllipsis;

  const std::int32_t font = chinese ? info->chineseFont : info->westernFont;
  return Frame(FontName(font, settings), FontSize(*info, settings), color, body);
}

float BlockWidth(const MapGis::MAPGIS_PntInfo& info) {
  float value;
  std::memcpy(&value, info.unused55 + (kBlockWidthByte - kUnusedByte), sizeof value);
  return value;
}

float BlockHeight(const MapGis::MAPGIS_PntInfo& info) {
  float value;
  std::memcpy(&value, info.unused55 + (kBlockHeightByte - kUnusedByte), sizeof value);
  return value;
}

void SetBlockSize(MapGis::MAPGIS_PntInfo& info, float width, float height) {
  std::memcpy(info.unused55 + (kBlockWidthByte - kUnusedByte), &width, sizeof width);
  std::memcpy(info.unused55 + (kBlockHeightByte - kUnusedByte), &height, sizeof height);
}

}  // namespace Kvx
