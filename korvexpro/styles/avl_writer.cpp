#include "styles/avl_writer.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "vordex/text_encoding.h"

namespace Kvx {
namespace {

// ---- Literal pieces of the file ----

constexpr std::string_view kFileHead = "/3.2\n";
constexpr std::string_view kOdbHead = "(ODB.1\n\tFirstRootClassName:\t\"Legend\"\n\tRoots:\t2\n\tVersion:\t32\n)\n\n";
// Region legends have always been written with a blank before the version.
constexpr std::string_view kOdbHeadRegion =
    "(ODB.1\n\tFirstRootClassName:\t\"Legend\"\n\tRoots:\t2\n\tVersion: 32\n)\n\n";
constexpr std::string_view kLegendHeadLine =
    "(Legend.2\n\tSymType:\t0x01\n\tLegType:\t0x08\n\tClassType:\t0x03\n\tFieldNames:\t3\n\tSymbols:\t4\n";
constexpr std::string_view kLegendHeadRegion =
    "(Legend.2\n\tSymType:\t0x02\n\tLegType:\t0x08\n\tClassType:\t0x03\n\tFieldNames:\t3\n\tSymbols:\t4\n";
constexpr std::string_view kLegendHeadMarker =
    "(Legend.2\n\tLegType:\t0x08\n\tClassType:\t0x03\n\tFieldNames:\t3\n\tSymbols:\t4\n";
constexpr std::string_view kLegendTail = "\tStdDevs:\t1.0\n\tPrecision:\t-3\n)\n\n";
constexpr std::string_view kClassField = "(AVStr.3\n\tS:\t\"KVX_LEGEND\"\n)\n\n";
constexpr std::string_view kSymListHead = "(SymList.4\n";
constexpr std::string_view kObjectEnd = ")\n\n";
constexpr std::string_view kFixedColours =
    "(TClr.5\n)\n\n(TClr.6\n\tRed:\t0xffff\n\tGreen:\t0xffff\n\tBlue:\t0xffff\n)\n\n";
constexpr std::string_view kMarkerFont =
    "(NFont.5\n\tFamily:\t6\n\tName:\t7\n\tStyle:\t8\n"
    "\tMonoSpaced:\t1\n\tSerif:\t1\n\tWeight:\t1\n\tWideness:\t1\n)\n\n";
constexpr std::string_view kMarkerFixedTail =
    "(AVStr.8\n\tS:\t\"Normal\"\n)\n\n(TClr.9\n)\n\n(TClr.10\n\tName:\t\"Transparent\"\n)\n\n";

// The dash pattern of a line symbol: four groups of four values. Each group begins with nine tabs,
// and every group after the first with a blank before them.
constexpr std::string_view kPatternFirstSolid =
    "\t\t\t\t\t\t\t\t\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n";
constexpr std::string_view kPatternFirstDashed =
    "\t\t\t\t\t\t\t\t\tPattern:\t1.0\n\tPattern:\t1.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n";
constexpr std::string_view kPatternLaterGroups =
    " \t\t\t\t\t\t\t\t\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n"
    " \t\t\t\t\t\t\t\t\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n"
    " \t\t\t\t\t\t\t\t\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n\tPattern:\t0.0\n";

// ---- Text assembly (line ends are "\n" here and become CR LF at the end) ----

class AvlText {
 public:
  AvlText& operator<<(std::string_view text) {
    text_.append(text);
    return *this;
  }
  AvlText& operator<<(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text_.append(buffer, result.ptr);
    return *this;
  }
  // "0x%04x"
  void Hex16(std::uint32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    text_ += "0x";
    for (auto digits = result.ptr - buffer; digits < 4; ++digits) text_ += '0';
    text_.append(buffer, result.ptr);
  }
  // "%.2f"; a size that is not a number (a damaged record) is written as 0.00, which the legend
  // can still be read with.
  void Fixed2(double value) {
    if (!std::isfinite(value)) value = 0.0;
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    text_.append(buffer, result.ptr);
  }

  // The text with every "\n" as CR LF. (A GBK trail byte is never 0x0A, so the font name passes
  // through whole.)
  std::string WithCrLf() const {
    std::string out;
    out.reserve(text_.size() + text_.size() / 8);
    for (char c : text_) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }

  void Reserve(std::size_t size) { text_.reserve(size); }

 private:
  std::string text_;
};

// One colour byte as the 16-bit value of a TClr.
std::uint32_t ColourWord(std::int32_t packed, int shift) {
  return ((static_cast<std::uint32_t>(packed) >> shift) & 0xFFu) * 256u + 255u;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::int32_t AvlFirstColourObject(AvlKind kind) { return kind == AvlKind::Marker ? 11 : 7; }

std::string BuildAvl(AvlKind kind, std::span<const std::int32_t> colours, std::span<const LegendEntry> entries,
                     std::string_view fontName) {
  const std::int64_t first = AvlFirstColourObject(kind);
  const auto colourCount = static_cast<std::int64_t>(colours.size());
  const auto entryCount = static_cast<std::int64_t>(entries.size());
  auto symbolObject = [&](std::int64_t i) { return first + colourCount + 2 * i; };
  auto classObject = [&](std::int64_t i) { return first + colourCount + 2 * i + 1; };

  AvlText text;
  text.Reserve(1024 + colours.size() * 64 + entries.size() * (kind == AvlKind::Line ? 420 : 200));

  text << kFileHead << (kind == AvlKind::Region ? kOdbHeadRegion : kOdbHead);
  switch (kind) {
    case AvlKind::Line:
      text << kLegendHeadLine;
      break;
    case AvlKind::Region:
      text << kLegendHeadRegion;
      break;
    case AvlKind::Marker:
      text << kLegendHeadMarker;
      break;
  }
  for (std::int64_t i = 0; i < entryCount; ++i) text << "\tClass:\t" << classObject(i) << "\n";
  text << kLegendTail << kClassField;

  text << kSymListHead;
  for (std::int64_t i = 0; i < entryCount; ++i) text << "\tChild:\t" << symbolObject(i) << "\n";
  text << kObjectEnd;

  if (kind == AvlKind::Marker) {
    const std::string gbkFont = MapGis::Utf8ToGbk(fontName);
    text << kMarkerFont;
    text << "(AVStr.6\n\tS:\t\"" << gbkFont << "\"\n)\n\n";
    text << "(AVStr.7\n\tS:\t\"" << gbkFont << "\"\n)\n\n";
    text << kMarkerFixedTail;
  } else {
    text << kFixedColours;
  }

  for (std::int64_t k = 0; k < colourCount; ++k) {
    const std::int32_t packed = colours[static_cast<std::size_t>(k)];
    text << "(TClr." << first + k << "\n\tRed:\t";
    text.Hex16(ColourWord(packed, 0));
    text << "\n\tGreen:\t";
    text.Hex16(ColourWord(packed, 8));
    text << "\n\tBlue:\t";
    text.Hex16(ColourWord(packed, 16));
    text << "\n)\n\n";
  }

  for (std::int64_t i = 0; i < entryCount; ++i) {
    const LegendEntry& entry = entries[static_cast<std::size_t>(i)];
    const std::int64_t colourObject = first + entry.index;
    switch (kind) {
      case AvlKind::Line:
        text << "(BLnSym." << symbolObject(i) << "\n\tColor:\t" << colourObject << "\n\tWidth:\t";
        text.Fixed2(static_cast<double>(entry.size1) * kAvlPointsPerMillimetre);
        text << "\n";
        // Only the symbol value 1 is drawn solid; every other line keeps the dashed pattern.
        text << (entry.symbol == 1 ? kPatternFirstSolid : kPatternFirstDashed) << kPatternLaterGroups << kObjectEnd;
        break;
      case AvlKind::Region:
        text << "(BShSym." << symbolObject(i) << "\n\tColor:\t" << colourObject
             << "\n\tOutline:\t0.0\n\tOutlineColor:\t5\n\tBgColor:\t6\n)\n\n";
        break;
      case AvlKind::Marker:
        text << "(BMkSym." << symbolObject(i) << "\n\tColor:\t" << colourObject
             << "\n\tBgColor:\t10\n\tFont:\t5\n\tSize:\t";
        text.Fixed2(static_cast<double>(entry.size1) * kAvlPointsPerMillimetre);
        text << "\n\tPattern:\t46\n\tAngle:\t";
        text.Fixed2(static_cast<double>(entry.size3));
        text << "\n)\n\n";
        break;
    }
    const LegendCode code = entry.GetLegendCode();
    text << "(LClass." << classObject(i) << "\n\tLabel:\t\"" << code.View() << "\"\n\tMinNum:\t" << code.View()
         << "\n\tMaxNum:\t" << code.View() << "\n\tPrecision:\t-3\n)\n\n";
  }

  text << "(NameDict." << first + colourCount + 2 * entryCount << "\n)\n\n";
  text << "(NameDict." << first + colourCount + 2 * entryCount + 1 << "\n)\n\n";
  return text.WithCrLf();
}

std::filesystem::path AvlPath(const std::filesystem::path& outputBase) {
  std::filesystem::path file = outputBase;
  file += ".avl";  // appended, not replacing: the base may hold dots of its own
  return file;
}

AvlWriteResult WriteAvl(AvlKind kind, const std::filesystem::path& outputBase, std::span<const std::int32_t> colours,
                        std::span<const LegendEntry> entries, std::string_view fontName) {
  AvlWriteResult result;
  result.file = AvlPath(outputBase);
  const std::string bytes = BuildAvl(kind, colours, entries, fontName);

  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(result.file.c_str(), "wb"));
  if (!file) {
    result.error = "cannot create " + result.file.string() + ": " + std::strerror(errno);
    return result;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    result.error = "cannot write " + result.file.string() + ": " + std::strerror(written ? errno : writeErrno);
    std::error_code ignored;
    std::filesystem::remove(result.file, ignored);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace Kvx
