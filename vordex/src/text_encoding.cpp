#include "vordex/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace MapGis {
namespace {

const iconv_t kBadCd = reinterpret_cast<iconv_t>(-1);

// Converts through `cd`; an input byte that cannot be converted is replaced by `replacement` and
// skipped (one byte, or the whole double-byte GBK character when `gbkInput` is set).
std::string Convert(void* handle, std::string_view in, std::string_view replacement, bool gbkInput) {
  std::string out;
  if (in.empty()) return out;
  auto cd = static_cast<iconv_t>(handle);
  if (cd == kBadCd) {
    // No converter on this system: pass ASCII through and mark everything else.
    for (unsigned char c : in) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(replacement);
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  std::size_t used = 0;
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL: replace the offending character and go on.
    std::size_t skip = 1;
    if (gbkInput && srcLeft >= 2 && static_cast<unsigned char>(*src) >= 0x81) skip = 2;
    src += skip;
    srcLeft -= skip;
    if (out.size() - used < replacement.size() + 16) out.resize(out.size() * 2 + replacement.size());
    out.replace(used, replacement.size(), replacement);
    used += replacement.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  return out;
}

}  // namespace

GbkCodec::GbkCodec()
    : toUtf8_(iconv_open("UTF-8", "GBK")), fromUtf8_(iconv_open("GBK", "UTF-8")) {}

GbkCodec::~GbkCodec() {
  if (static_cast<iconv_t>(toUtf8_) != kBadCd) iconv_close(static_cast<iconv_t>(toUtf8_));
  if (static_cast<iconv_t>(fromUtf8_) != kBadCd) iconv_close(static_cast<iconv_t>(fromUtf8_));
}

std::string GbkCodec::ToUtf8(std::string_view gbk) { return Convert(toUtf8_, gbk, "\xEF\xBF\xBD", true); }

std::string GbkCodec::FromUtf8(std::string_view utf8) { return Convert(fromUtf8_, utf8, "?", false); }

std::string GbkToUtf8(std::string_view gbk) {
  GbkCodec codec;
  return codec.ToUtf8(gbk);
}

std::string Utf8ToGbk(std::string_view utf8) {
  GbkCodec codec;
  return codec.FromUtf8(utf8);
}

std::size_t GbkPrefixLength(std::string_view gbk, std::size_t limit) {
  std::size_t i = 0;
  while (i < gbk.size()) {
    auto c = static_cast<unsigned char>(gbk[i]);
    std::size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
    if (i + len > limit) break;
    i += len;
  }
  return i;
}

std::size_t Utf8PrefixLength(std::string_view utf8, std::size_t limit) {
  if (utf8.size() <= limit) return utf8.size();
  std::size_t i = limit;
  // Step back over continuation bytes to the start of the character that does not fit.
  while (i > 0 && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace MapGis
