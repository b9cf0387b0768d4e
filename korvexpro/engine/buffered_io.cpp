#include "engine/buffered_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace Kvx {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
constexpr std::size_t kFirstBufferSize = std::size_t{16} << 10;

class BufferedFile {
 public:
  BufferedFile(int fd, std::string path, bool writable) : fd_(fd), path_(std::move(path)), writable_(writable) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      size_ = st.st_size;
      regular_ = S_ISREG(st.st_mode);
    }
  }
  ~BufferedFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  std::size_t Read(void* out, std::size_t bytes) {
    if (!Flush()) return 0;
    std::size_t done = 0;
    auto* p = static_cast<char*>(out);
    while (done < bytes) {
      const ssize_t n = ::pread(fd_, p + done, bytes - done, static_cast<off_t>(pos_ + static_cast<std::int64_t>(done)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    pos_ += static_cast<std::int64_t>(done);
    return done;
  }

  bool Write(const void* in, std::size_t bytes) {
    if (!writable_ || failed_) return false;
    if (bytes == 0) return true;
    const std::int64_t end = bufferStart_ + static_cast<std::int64_t>(buffer_.size());
    const bool joins = !buffer_.empty() && pos_ >= bufferStart_ && pos_ <= end &&
                       pos_ - bufferStart_ + static_cast<std::int64_t>(bytes) <= static_cast<std::int64_t>(kBufferSize);
    if (!joins) {
      if (!Flush()) return false;
      if (bytes >= kBufferSize) {
        if (!WriteAt(pos_, static_cast<const char*>(in), bytes)) return Fail();
        pos_ += static_cast<std::int64_t>(bytes);
        size_ = std::max(size_, pos_);
        return true;
      }
      bufferStart_ = pos_;
    }
    const auto at = static_cast<std::size_t>(pos_ - bufferStart_);
    // The buffer grows with the file up to its full size: most outputs are a few kilobytes, and a
    // megabyte for each would cost more to allocate than to fill.
    if (buffer_.capacity() < at + bytes) {
      buffer_.reserve(std::min(kBufferSize, std::max({at + bytes, 2 * buffer_.capacity(), kFirstBufferSize})));
    }
    if (buffer_.size() < at + bytes) buffer_.resize(at + bytes);
    std::memcpy(buffer_.data() + at, in, bytes);
    pos_ += static_cast<std::int64_t>(bytes);
    size_ = std::max(size_, pos_);
    return true;
  }

  void Seek(std::int64_t offset, int whence) {
    if (whence == SEEK_SET) pos_ = offset;
    else if (whence == SEEK_CUR) pos_ += offset;
    else if (whence == SEEK_END) pos_ = size_ + offset;
  }
  std::int64_t Tell() const { return pos_; }

  bool Flush() {
    if (buffer_.empty()) return !failed_;
    const bool ok = WriteAt(bufferStart_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok || Fail();
  }

  // Closes the file; one that could not be written whole is removed.
  bool Close() {
    const bool ok = Flush() && !failed_;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (writable_ && !(ok && closed)) {
      if (regular_) ::unlink(path_.c_str());
      return false;
    }
    return true;
  }

 private:
  bool WriteAt(std::int64_t offset, const char* data, std::size_t bytes) {
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pwrite(fd_, data + done, bytes - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool Fail() {
    failed_ = true;
    return false;
  }

  int fd_;
  std::string path_;
  bool writable_;
  bool regular_ = false;
  bool failed_ = false;
  std::int64_t pos_ = 0;
  std::int64_t size_ = 0;
  std::int64_t bufferStart_ = 0;
  std::vector<char> buffer_;
};

BufferedFile* From(SAFile file) { return reinterpret_cast<BufferedFile*>(file); }

SAFile Open(const char* filename, const char* access) {
  if (!filename || !access) return nullptr;
  const bool plus = std::strchr(access, '+') != nullptr;
  int flags = 0;
  bool writable = true;
  if (access[0] == 'w') {
    flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
  } else if (access[0] == 'r') {
    flags = plus ? O_RDWR : O_RDONLY;
    writable = plus;
  } else {
    return nullptr;
  }
  const int fd = ::open(filename, flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto* file = new (std::nothrow) BufferedFile(fd, filename, writable);
  if (!file) ::close(fd);
  return reinterpret_cast<SAFile>(file);
}

SAOffset Read(void* p, SAOffset size, SAOffset count, SAFile file) {
  if (size == 0) return 0;
  return From(file)->Read(p, static_cast<std::size_t>(size * count)) / size;
}

SAOffset Write(void* p, SAOffset size, SAOffset count, SAFile file) {
  return From(file)->Write(p, static_cast<std::size_t>(size * count)) ? count : 0;
}

SAOffset Seek(SAFile file, SAOffset offset, int whence) {
  // shapelib passes offsets as an unsigned type; a negative relative offset arrives wrapped.
  From(file)->Seek(static_cast<std::int64_t>(offset), whence);
  return 0;
}

SAOffset Tell(SAFile file) { return static_cast<SAOffset>(From(file)->Tell()); }

int Flush(SAFile file) { return From(file)->Flush() ? 0 : EOF; }

int Close(SAFile file) {
  std::unique_ptr<BufferedFile> owned(From(file));
  return owned->Close() ? 0 : EOF;
}

int Remove(const char* filename) { return ::unlink(filename); }

void Error(const char*) {}

double Atof(const char* text) {
  while (*text == ' ') ++text;
  if (*text == '+') ++text;
  double value = 0.0;
  std::from_chars(text, text + std::strlen(text), value);
  return value;
}

}  // namespace

SAHooks BufferedFileHooks() { return SAHooks{Open, Read, Write, Seek, Tell, Flush, Close, Remove, Error, Atof}; }

}  // namespace Kvx
