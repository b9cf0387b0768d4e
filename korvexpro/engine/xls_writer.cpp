#include "engine/xls_writer.h"

#include <bit>
#include <cstring>

#include "vordex/text_encoding.h"

namespace Kvx {

XlsWriter::XlsWriter(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "wb")) {}

void XlsWriter::PutBytes(const void* bytes, std::size_t count) {
  if (!file_ || count == 0) return;
  if (std::fwrite(bytes, 1, count, file_.get()) != count) failed_ = true;
}

void XlsWriter::Put16(std::uint16_t value) {
  const unsigned char bytes[2] = {static_cast<unsigned char>(value & 0xFF), static_cast<unsigned char>(value >> 8)};
  PutBytes(bytes, 2);
}

void XlsWriter::Bof() {
  for (std::uint16_t v : {0x0809, 8, 0, 0x0010, 0, 0}) Put16(v);
}

void XlsWriter::Label(std::uint16_t row, std::uint16_t column, std::string_view gbk) {
  const std::size_t n = MapGis::GbkPrefixLength(gbk, kXlsLabelMax);
  Put16(0x0204);
  Put16(static_cast<std::uint16_t>(n + 8));
  Put16(row);
  Put16(column);
  Put16(0);
  Put16(static_cast<std::uint16_t>(n));
  PutBytes(gbk.data(), n);
}

void XlsWriter::Number(std::uint16_t row, std::uint16_t column, double value) {
  Put16(0x0203);
  Put16(14);
  Put16(row);
  Put16(column);
  Put16(0);
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  unsigned char bytes[8];
  for (unsigned char& b : bytes) {
    b = static_cast<unsigned char>(bits & 0xFF);
    bits >>= 8;
  }
  PutBytes(bytes, sizeof bytes);
}

void XlsWriter::Eof() {
  Put16(0x000A);
  Put16(0);
}

bool XlsWriter::Close() {
  if (!file_) return false;
  const bool closed = std::fclose(file_.release()) == 0;
  return closed && !failed_;
}

}  // namespace Kvx
