#pragma once

// A minimal spreadsheet: a bare stream of little-endian BIFF records, no container.
//
//   BOF     0x0809, length 8: 0, 0x0010, 0, 0
//   LABEL   0x0204, length n + 8: row, column, format 0, n, the n text bytes (no terminator)
//   NUMBER  0x0203, length 14: row, column, format 0, the value as a 64-bit IEEE float
//   EOF     0x000A, length 0
//
// All header values are unsigned 16-bit. Label text goes in as given (GBK bytes from the layers);
// a text longer than a LABEL can hold is cut before the GBK character that does not fit.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

namespace Kvx {

// The most text bytes a LABEL holds: its length field is 16 bits and counts the 8 header bytes.
inline constexpr std::size_t kXlsLabelMax = 0xFFFF - 8;

class XlsWriter {
 public:
  // Creates (or truncates) `path` for writing. Not open on failure.
  explicit XlsWriter(const std::filesystem::path& path);
  XlsWriter(const XlsWriter&) = delete;
  XlsWriter& operator=(const XlsWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }

  void Bof();
  void Label(std::uint16_t row, std::uint16_t column, std::string_view gbk);
  void Number(std::uint16_t row, std::uint16_t column, double value);
  void Eof();

  // Some write failed (or the file is not open).
  bool Failed() const { return failed_ || !file_; }
  // Closes the file; false when it could not be written whole.
  bool Close();

 private:
  void Put16(std::uint16_t value);
  void PutBytes(const void* bytes, std::size_t count);

  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  bool failed_ = false;
};

}  // namespace Kvx
