#include "vordex/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace MapGis {
namespace {

const iconv_t kBadCd = reinterpret_cast<iconv_t>(-1);

// The bytes of the character at `p` that cannot be converted: a whole double-byte GBK character, a
// whole UTF-8 sequence (one '?' for one character), else one byte.
std::size_t GbkCharacterLength(const char* p, std::size_t left) {
  if (left < 2) return 1;
  const auto lead = static_cast<unsigned char>(p[0]), trail = static_cast<unsigned char>(p[1]);
  const bool pair = lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
  return pair ? 2 : 1;
}

std::size_t Utf8CharacterLength(const char* p, std::size_t left) {
  const auto lead = static_cast<unsigned char>(*p);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 1;
  if (length > left || lead > 0xF4) return 1;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
  return length;
}

// The descriptor of one direction, opened the first time it is needed.
iconv_t Descriptor(void*& handle, const char* to, const char* from) {
  if (handle == nullptr) handle = iconv_open(to, from);
  return static_cast<iconv_t>(handle);
}

// Converts through `cd`; an input byte that cannot be converted is replaced by `replacement` and
// skipped (the whole character where its bytes can be told, else one byte).
std::string Convert(iconv_t cd, std::string_view in, std::string_view replacement, bool gbkInput) {
  std::string out;
  if (in.empty()) return out;
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
    const std::size_t skip = gbkInput ? GbkCharacterLength(src, srcLeft) : Utf8CharacterLength(src, srcLeft);
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

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

GbkCodec::GbkCodec() : toUtf8_(nullptr), fromUtf8_(nullptr) {}

GbkCodec::~GbkCodec() {
  for (void* handle : {toUtf8_, fromUtf8_})
    if (handle != nullptr && static_cast<iconv_t>(handle) != kBadCd) iconv_close(static_cast<iconv_t>(handle));
}

// ASCII is the same in GBK and UTF-8: it is copied without iconv (most names and values are).
std::string GbkCodec::ToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return Convert(Descriptor(toUtf8_, "UTF-8", "GBK"), gbk, "\xEF\xBF\xBD", true);
}

std::string GbkCodec::FromUtf8(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return Convert(Descriptor(fromUtf8_, "GBK", "UTF-8"), utf8, "?", false);
}

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
