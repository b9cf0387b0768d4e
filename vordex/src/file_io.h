#pragma once

// Random access to one file. A read-only file is held in memory, so a read is a bounds check and
// a copy: a small one is read whole into a buffer, a larger one is mapped. (Mapping and unmapping
// costs every other thread of the process a TLB flush, which for the many small layers of a
// parallel batch costs more than reading them.) A file opened for writing, or one that cannot be
// mapped, is read with pread. The descriptor, the buffer and the mapping are owned.

#include <cstdint>
#include <memory>
#include <string>

namespace MapGis {

class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Opens an existing regular file for reading (and writing when asked); false when it cannot
  // be opened.
  bool Open(const char* path, bool writable = false);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  std::int64_t Size() const { return size_; }

  // True when `bytes` bytes at `offset` lie inside the file (no overflow, no negatives).
  bool Contains(std::int64_t offset, std::int64_t bytes) const {
    return offset >= 0 && bytes >= 0 && offset <= size_ && bytes <= size_ - offset;
  }
  // Reads exactly `bytes` bytes at `offset`; false on a short read or when the range is outside.
  bool ReadAt(std::int64_t offset, void* buffer, std::int64_t bytes) const;
  // The `bytes` bytes at `offset` in the file's read-only mapping; nullptr when the file is not
  // mapped or the range is outside. Valid until Close().
  const unsigned char* MappedAt(std::int64_t offset, std::int64_t bytes) const {
    return map_ != nullptr && Contains(offset, bytes) ? map_ + offset : nullptr;
  }
  // Writes exactly `bytes` bytes at `offset` of a file opened for writing.
  bool WriteAt(std::int64_t offset, const void* buffer, std::int64_t bytes);

  // Read-only files up to this size are read whole instead of mapped.
  static constexpr std::int64_t kReadWholeLimit = 4 << 20;
  // True when the file's bytes are held in a buffer of their own (not a mapping).
  bool Buffered() const { return buffer_ != nullptr; }

 private:
  bool ReadWhole();

  int fd_ = -1;
  std::int64_t size_ = 0;
  const unsigned char* map_ = nullptr;  // the mapping, or the buffer's bytes
  bool mapped_ = false;
  std::unique_ptr<unsigned char[]> buffer_;
};

}  // namespace MapGis
