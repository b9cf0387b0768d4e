#pragma once

// GBK (code page 936) <-> UTF-8 conversion, the one place that talks to iconv.

#include <cstddef>
#include <string>
#include <string_view>

#include "vordex/export.h"

namespace MapGis {

// A converter that owns its two iconv descriptors (each opened when first needed; ASCII text needs
// none); reuse one object for many strings.
class VORDEX_API GbkCodec {
 public:
  GbkCodec();
  ~GbkCodec();
  GbkCodec(const GbkCodec&) = delete;
  GbkCodec& operator=(const GbkCodec&) = delete;

  // GBK bytes to UTF-8. A byte sequence that is not GBK becomes U+FFFD; nothing is dropped silently.
  std::string ToUtf8(std::string_view gbk);
  // UTF-8 to GBK. A character with no GBK form becomes '?'; invalid UTF-8 bytes become '?'.
  std::string FromUtf8(std::string_view utf8);

 private:
  void* toUtf8_;
  void* fromUtf8_;
};

// True when every byte is ASCII: such text is the same in GBK and UTF-8.
VORDEX_API bool IsAscii(std::string_view text);

// One-off conversions (open a descriptor per call unless the text is ASCII).
VORDEX_API std::string GbkToUtf8(std::string_view gbk);
VORDEX_API std::string Utf8ToGbk(std::string_view utf8);

// The longest prefix of GBK text that is at most `limit` bytes and does not end inside a
// double-byte character. Returns its length in bytes.
VORDEX_API std::size_t GbkPrefixLength(std::string_view gbk, std::size_t limit);
// The same for UTF-8 text.
VORDEX_API std::size_t Utf8PrefixLength(std::string_view utf8, std::size_t limit);

}  // namespace MapGis
