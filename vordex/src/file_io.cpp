#include "file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace MapGis {

RandomAccessFile::~RandomAccessFile() { Close(); }

bool RandomAccessFile::Open(const char* path, bool writable) {
  Close();
  if (!path) return false;
  int fd = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<std::int64_t>(st.st_size);
  if (!writable && size_ > 0) {
    if (size_ <= kReadWholeLimit && ReadWhole()) return true;
    void* m = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (m != MAP_FAILED) {
      map_ = static_cast<const unsigned char*>(m);
      mapped_ = true;
      ::madvise(m, static_cast<size_t>(size_), MADV_SEQUENTIAL);
    }
  }
  return true;
}

bool RandomAccessFile::ReadWhole() {
  std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[static_cast<size_t>(size_)]);
  if (!bytes) return false;
  // pread through the file as it is now: a file that shrank under us is read short and refused.
  const std::int64_t size = size_;
  if (!ReadAt(0, bytes.get(), size)) return false;
  buffer_ = std::move(bytes);
  map_ = buffer_.get();
  return true;
}

void RandomAccessFile::Close() {
  if (map_ && mapped_) ::munmap(const_cast<unsigned char*>(map_), static_cast<size_t>(size_));
  map_ = nullptr;
  mapped_ = false;
  buffer_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
}

bool RandomAccessFile::ReadAt(std::int64_t offset, void* buffer, std::int64_t bytes) const {
  if (fd_ < 0 || !Contains(offset, bytes)) return false;
  if (map_) {
    std::memcpy(buffer, map_ + offset, static_cast<size_t>(bytes));
    return true;
  }
  auto* out = static_cast<char*>(buffer);
  while (bytes > 0) {
    ssize_t n = ::pread(fd_, out, static_cast<size_t>(bytes), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    out += n;
    offset += n;
    bytes -= n;
  }
  return true;
}

bool RandomAccessFile::WriteAt(std::int64_t offset, const void* buffer, std::int64_t bytes) {
  if (fd_ < 0 || offset < 0 || bytes < 0) return false;
  const auto* in = static_cast<const char*>(buffer);
  while (bytes > 0) {
    ssize_t n = ::pwrite(fd_, in, static_cast<size_t>(bytes), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    in += n;
    offset += n;
    bytes -= n;
  }
  if (offset > size_) size_ = offset;
  return true;
}

}  // namespace MapGis
