#pragma once

// Text that goes into a DBF: field names, string values, legend and symbol codes, labels.
//
// The setting CodePage of the conversion (handed to DbfTextEncoder) decides the output encoding. 0: the DBF is marked with language driver 87
// ("LDID/87") and its text stays GBK as the layers store it. Any other value: the DBF is marked
// UTF-8 (a ".cpg" beside it says so) and its text is converted to UTF-8.
//
// Every cut at a byte limit keeps whole characters: a GBK double-byte character or a UTF-8
// sequence that does not fit is left out entirely, never split.

#include <cstdint>
#include <string>
#include <string_view>

#include "vordex/text_encoding.h"

namespace Kvx {

// The code-page text handed to DBFCreateEx.
inline constexpr const char* kDbfCodePageAnsi = "LDID/87";
inline constexpr const char* kDbfCodePageUtf8 = "UTF-8";

// One encoder per conversion: it keeps its converter open between calls.
class DbfTextEncoder {
 public:
  explicit DbfTextEncoder(std::int32_t codePage);
  DbfTextEncoder(const DbfTextEncoder&) = delete;
  DbfTextEncoder& operator=(const DbfTextEncoder&) = delete;

  bool Utf8() const { return utf8_; }
  // "UTF-8" or "LDID/87".
  const char* CodePageText() const { return utf8_ ? kDbfCodePageUtf8 : kDbfCodePageAnsi; }

  // GBK source -> `dest` in the output encoding, at most `limit` bytes plus the terminating zero
  // (dest holds limit + 1 bytes). Returns dest, or null (dest untouched) when source or dest is
  // null or limit is not positive.
  const char* EncodeDbfText(const char* source, char* dest, int limit);
  const char* EncodeDbfText(std::string_view source, char* dest, int limit);

  // UTF-8 source -> `dest` in the output encoding; `size` is the size of dest in bytes, the
  // terminating zero included, so at most size - 1 bytes of text. Returns dest, or null (dest
  // untouched) when source or dest is null or size is below 1.
  const char* EncodeDbfTextW(const char* source, char* dest, int size);
  const char* EncodeDbfTextW(std::string_view source, char* dest, int size);

  // GBK text (a stored field name) as UTF-8, through the encoder's own converter.
  std::string GbkToUtf8(std::string_view gbk) { return codec_.ToUtf8(gbk); }

 private:
  bool utf8_;
  MapGis::GbkCodec codec_;
};

}  // namespace Kvx
