#include "vordex/project_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "file_io.h"
#include "vordex/text_encoding.h"

namespace MapGis {

static_assert(std::endian::native == std::endian::little, "project records are read by block copy");

namespace {

// An owned POSIX descriptor opened for reading and writing.
class ReadWriteFile {
 public:
  ReadWriteFile() = default;
  ~ReadWriteFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadWriteFile(const ReadWriteFile&) = delete;
  ReadWriteFile& operator=(const ReadWriteFile&) = delete;

  bool Open(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    size_ = static_cast<std::int64_t>(st.st_size);
    return true;
  }
  std::int64_t Size() const { return size_; }

  bool ReadAt(std::int64_t offset, void* buffer, std::size_t bytes) const {
    auto* out = static_cast<char*>(buffer);
    while (bytes > 0) {
      ssize_t n = ::pread(fd_, out, bytes, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += n;
      bytes -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool WriteAt(std::int64_t offset, const void* buffer, std::size_t bytes) const {
    const auto* in = static_cast<const char*>(buffer);
    while (bytes > 0) {
      ssize_t n = ::pwrite(fd_, in, bytes, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      in += n;
      offset += n;
      bytes -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Closes the descriptor; false when the system reports a failure (a write that did not land).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
};

// Length of a stored text: up to the first NUL, at most the field's size.
std::size_t StoredLength(const char* field, std::size_t fieldSize) { return ::strnlen(field, fieldSize); }

// Copies a stored text into a caller buffer of kProjectTextCapacity bytes, cutting before a
// double-byte character that does not fit and always terminating.
void CopyText(char* out, const char* field, std::size_t fieldSize) {
  std::size_t length = StoredLength(field, fieldSize);
  length = GbkPrefixLength(std::string_view(field, length), kProjectTextCapacity - 1);
  std::memcpy(out, field, length);
  out[length] = '\0';
}

// True when an item table of `count` items at `offset` lies behind the head and inside a file of
// `fileSize` bytes.
bool ItemTableFits(std::int32_t offset, std::int32_t count, std::int64_t fileSize) {
  const std::int64_t bytes = static_cast<std::int64_t>(count) * static_cast<std::int64_t>(sizeof(PROJECTITEM));
  return offset >= kProjectHeadEnd && offset <= fileSize && bytes <= fileSize - offset;
}

}  // namespace

std::int32_t ProjectItemCodeFromStored(std::uint8_t storedType) {
  switch (storedType) {
    case 1: return ItemPoint;
    case 0: return ItemLine;
    case 2: return ItemRegion;
    case 7: return ItemTable;
    case 11: return ItemNetwork;
    default: return ItemUnknown;
  }
}

std::int32_t ProjectStoredTypeFromCode(std::int32_t code) {
  switch (code) {
    case ItemPoint: return 1;
    case ItemLine: return 0;
    case ItemRegion: return 2;
    case ItemTable: return 7;
    case ItemNetwork: return 11;
    default: return -1;
  }
}

void MapGis_Prj::Reset() {
  head_ = PROJECTHEAD{};
  items_.clear();
  items_.shrink_to_fit();
}

std::int32_t MapGis_Prj::LoadProject(const std::filesystem::path& path) {
  Reset();
  RandomAccessFile file;
  if (!file.Open(path.c_str())) return Status::CannotOpen;

  char magic[8];
  if (!file.ReadAt(0, magic, sizeof magic)) return Status::ReadFailed;
  if (std::memcmp(magic, kProjectMagic, sizeof magic) != 0) return Status::BadMagic;
  std::int32_t version = 0;
  if (!file.ReadAt(8, &version, sizeof version)) return Status::ReadFailed;
  if (version != kProjectVersion) return Status::BadMagic;

  PROJECTHEAD head{};
  if (!file.ReadAt(kProjectHeadOffset, &head, sizeof head)) return Status::ReadFailed;
  const std::int32_t count = head.itemCount;
  if (count < 0) return Status::ReadFailed;
  if (count == 0) {
    head_ = head;
    return 0;
  }
  if (!ItemTableFits(head.itemTableOffset, count, file.Size())) return Status::ReadFailed;

  std::vector<PROJECTITEM> items(static_cast<std::size_t>(count));
  if (!file.ReadAt(head.itemTableOffset, items.data(),
                   static_cast<std::int64_t>(items.size() * sizeof(PROJECTITEM)))) {
    return Status::ReadFailed;
  }
  head_ = head;
  items_ = std::move(items);
  return count;
}

std::int32_t MapGis_Prj::SaveProject(const std::filesystem::path& path) {
  ReadWriteFile file;
  if (!file.Open(path)) return Status::CannotOpen;

  char magic[8];
  std::int32_t version = 0;
  PROJECTHEAD head{};
  if (!file.ReadAt(0, magic, sizeof magic) || !file.ReadAt(8, &version, sizeof version) ||
      !file.ReadAt(kProjectHeadOffset, &head, sizeof head)) {
    return Status::ReadFailed;
  }
  // Items are only ever written into a project file, and only into the one they came from.
  if (std::memcmp(magic, kProjectMagic, sizeof magic) != 0 || version != kProjectVersion) return Status::BadMagic;
  const std::int32_t count = head.itemCount;
  if (count < 0) return Status::ReadFailed;
  if (static_cast<std::size_t>(count) != items_.size()) return Status::ProjectMismatch;
  if (count > 0 && !ItemTableFits(head.itemTableOffset, count, file.Size())) return Status::ReadFailed;

  head_ = head;
  if (count > 0 && !file.WriteAt(head.itemTableOffset, items_.data(), items_.size() * sizeof(PROJECTITEM))) {
    return Status::WriteFailed;
  }
  if (!file.Close()) return Status::WriteFailed;
  return count;
}

std::int32_t MapGis_Prj::GetItemCount() const { return static_cast<std::int32_t>(items_.size()); }

std::int32_t MapGis_Prj::GetMpjDesc(char* buffer) const {
  if (buffer) CopyText(buffer, head_.description, sizeof head_.description);
  return 0;
}

std::int32_t MapGis_Prj::GetProjectionInfo(MAP_PARAstruct* para) const {
  const std::int32_t kind = head_.projection.coordKind;
  if (!para) return kind;
  *para = MAP_PARAstruct{};
  std::memcpy(para, &head_.projection, sizeof *para);
  if (kind == 0 || para->scale < 0.001) para->scale = 1.0;
  return kind;
}

void MapGis_Prj::GetExtentInfo(double* xMin, double* yMin, double* xMax, double* yMax) const {
  if (xMin) *xMin = head_.xMin;
  if (yMin) *yMin = head_.yMin;
  if (xMax) *xMax = head_.xMax;
  if (yMax) *yMax = head_.yMax;
}

const PROJECTITEM* MapGis_Prj::GetItem(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return nullptr;
  return &items_[static_cast<std::size_t>(index)];
}

std::int32_t MapGis_Prj::GetItemInfo(int index, char* name, double* displayMin, double* displayMax) const {
  const PROJECTITEM* item = GetItem(index);
  if (!item) {
    if (name) name[0] = '\0';
    if (displayMin) *displayMin = 0.0;
    if (displayMax) *displayMax = 0.0;
    return Status::ReadFailed;
  }
  if (displayMin) *displayMin = item->displayMin;
  if (displayMax) *displayMax = item->displayMax;
  if (name) CopyText(name, item->fileName, sizeof item->fileName);
  return ProjectItemCodeFromStored(item->itemType);
}

std::int32_t MapGis_Prj::GetItemDesc(int index, char* buffer) const {
  if (!buffer) return 0;
  const PROJECTITEM* item = GetItem(index);
  if (!item) {
    buffer[0] = '\0';
    return Status::ReadFailed;
  }
  CopyText(buffer, item->description, sizeof item->description);
  return 0;
}

std::int32_t MapGis_Prj::SetItemInfo(int index, const char* name, double displayMin, double displayMax, int code) {
  if (items_.empty()) return 0;
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return Status::ReadFailed;
  PROJECTITEM& item = items_[static_cast<std::size_t>(index)];
  item.displayMin = displayMin;
  item.displayMax = displayMax;
  if (name) {
    std::size_t length = ::strnlen(name, kProjectTextCapacity);
    length = GbkPrefixLength(std::string_view(name, length), kProjectTextCapacity - 1);
    std::memset(item.fileName, 0, sizeof item.fileName);
    std::memcpy(item.fileName, name, length);
  }
  if (std::int32_t stored = ProjectStoredTypeFromCode(code); stored >= 0) {
    item.itemType = static_cast<std::uint8_t>(stored);
  }
  return static_cast<std::int8_t>(item.itemType);
}

std::string MapGis_Prj::GetDescription() const {
  return std::string(head_.description, StoredLength(head_.description, sizeof head_.description));
}

std::string MapGis_Prj::GetItemName(int index) const {
  const PROJECTITEM* item = GetItem(index);
  if (!item) return {};
  return std::string(item->fileName, StoredLength(item->fileName, sizeof item->fileName));
}

std::string MapGis_Prj::GetItemDescription(int index) const {
  const PROJECTITEM* item = GetItem(index);
  if (!item) return {};
  return std::string(item->description, StoredLength(item->description, sizeof item->description));
}

}  // namespace MapGis
