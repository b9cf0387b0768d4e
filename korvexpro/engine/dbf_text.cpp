#include "engine/dbf_text.h"

#include <cstring>
#include <string>


namespace Kvx {
namespace {

const char* CopyOut(std::string_view text, std::size_t length, char* dest) {
  std::memcpy(dest, text.data(), length);
  dest[length] = 0;
  return dest;
}

}  // namespace

DbfTextEncoder::DbfTextEncoder(std::int32_t codePage) : utf8_(codePage != 0) {}

const char* DbfTextEncoder::EncodeDbfText(const char* source, char* dest, int limit) {
  if (!source) return nullptr;
  return EncodeDbfText(std::string_view(source), dest, limit);
}

const char* DbfTextEncoder::EncodeDbfText(std::string_view source, char* dest, int limit) {
  if (!dest || limit < 1) return nullptr;
  const auto max = static_cast<std::size_t>(limit);
  // ASCII is the same in GBK and UTF-8 and needs no converter.
  if (!utf8_ || MapGis::IsAscii(source)) return CopyOut(source, MapGis::GbkPrefixLength(source, max), dest);
  const std::string text = codec_.ToUtf8(source);
  return CopyOut(text, MapGis::Utf8PrefixLength(text, max), dest);
}

const char* DbfTextEncoder::EncodeDbfTextW(const char* source, char* dest, int size) {
  if (!source) return nullptr;
  return EncodeDbfTextW(std::string_view(source), dest, size);
}

const char* DbfTextEncoder::EncodeDbfTextW(std::string_view source, char* dest, int size) {
  if (!dest || size < 1) return nullptr;
  const auto max = static_cast<std::size_t>(size) - 1;
  if (utf8_ || MapGis::IsAscii(source)) return CopyOut(source, MapGis::Utf8PrefixLength(source, max), dest);
  const std::string text = codec_.FromUtf8(source);
  return CopyOut(text, MapGis::GbkPrefixLength(text, max), dest);
}

}  // namespace Kvx
