#include "settings/ini_file.h"

#include <ini.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace Kvx {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// inih's notion of a blank (isspace in the C locale).
bool IsBlankChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlankChar(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlankChar(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Position of the first character of `chars` in `s`, or of an inline comment (';' after a blank),
// the way inih scans a line; s.size() when there is neither.
std::size_t FindCharsOrComment(std::string_view s, std::string_view chars) {
  bool wasBlank = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (chars.find(s[i]) != std::string_view::npos) return i;
    if (wasBlank && s[i] == ';') return i;
    wasBlank = IsBlankChar(s[i]);
  }
  return s.size();
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Decodes a quoted value: `text` starts with '"' and must end with the closing quote.
std::optional<std::string> Unquote(std::string_view text) {
  std::string out;
  std::size_t i = 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') return i + 1 == text.size() ? std::optional<std::string>(std::move(out)) : std::nullopt;
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const char e = text[i + 1];
    switch (e) {
      case '\\': case '"': case ';': case '#': out += e; i += 2; break;
      case 'n': out += '\n'; i += 2; break;
      case 'r': out += '\r'; i += 2; break;
      case 't': out += '\t'; i += 2; break;
      case 'x':
        if (i + 3 >= text.size() || !IsHexDigit(text[i + 2]) || !IsHexDigit(text[i + 3])) return std::nullopt;
        out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
        i += 4;
        break;
      default: return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

// True when inih hands `value` back unchanged from a line "key=value".
bool CanWritePlain(std::string_view value) {
  if (value.empty()) return true;
  if (IsBlankChar(value.front()) || IsBlankChar(value.back()) || value.front() == '"') return false;
  bool wasBlank = false;
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    if (wasBlank && c == ';') return false;
    wasBlank = IsBlankChar(c);
  }
  return true;
}

// The pieces of a quoted value: one escape sequence, one UTF-8 character or one other byte each.
std::vector<std::string> QuotedAtoms(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<std::string> atoms;
  std::size_t i = 0;
  while (i < value.size()) {
    const auto u = static_cast<unsigned char>(value[i]);
    if (value[i] == '\\' || value[i] == '"' || value[i] == ';') {
      atoms.push_back(std::string{'\\', value[i]});
      ++i;
    } else if (value[i] == '\n') {
      atoms.emplace_back("\\n");
      ++i;
    } else if (value[i] == '\r') {
      atoms.emplace_back("\\r");
      ++i;
    } else if (value[i] == '\t') {
      atoms.emplace_back("\\t");
      ++i;
    } else if (u < 0x20 || u == 0x7F) {
      atoms.push_back(std::string{'\\', 'x', kHex[u >> 4], kHex[u & 15]});
      ++i;
    } else {
      std::size_t len = 1;
      if (u >= 0xC0) {
        len = u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : 2;
        // Keep a character whole when it is well formed; stray bytes go one by one.
        std::size_t k = 1;
        while (k < len && i + k < value.size() && (static_cast<unsigned char>(value[i + k]) & 0xC0) == 0x80) ++k;
        if (k != len) len = 1;
      }
      atoms.emplace_back(value.substr(i, len));
      i += len;
    }
  }
  return atoms;
}

}  // namespace

// State shared between inih's callbacks while one file is parsed.
struct IniParse {
  enum class Kind { Blank, Comment, Section, Entry, Continuation, Pending, Unreadable };

  IniFile* file = nullptr;
  std::vector<Kind> kinds;
  std::size_t next = 0;     // next line to hand to inih
  std::size_t current = 0;  // line inih is working on
  bool previousName = false;  // inih continues a value on an indented line only after an entry
  bool failed = false;

  // Decides what inih will make of line `index`, the way inih's parser looks at it.
  Kind Classify(std::size_t index) {
    std::string_view text = file->lines_[index];
    bool indented = false;
    if (index == 0 && text.starts_with(kBom)) {
      text.remove_prefix(kBom.size());
      indented = true;  // inih skips the mark the same way it skips blanks
    }
    text = TrimRight(text);
    const std::string_view start = TrimLeft(text);
    indented = indented || start.size() != text.size();
    if (start.empty()) return Kind::Blank;
    if (start.front() == ';' || start.front() == '#') return Kind::Comment;
    if (previousName && indented) return Kind::Continuation;
    if (start.front() == '[') {
      const std::string_view inside = start.substr(1);
      const std::size_t close = FindCharsOrComment(inside, "]");
      if (close == inside.size() || inside[close] != ']') return Kind::Pending;  // stays an error line
      IniFile::Block block;
      block.section = std::string(inside.substr(0, close));
      block.header = index;
      block.end = file->lines_.size();
      if (!file->blocks_.empty()) file->blocks_.back().end = index;
      file->blocks_.push_back(std::move(block));
      previousName = false;
      return Kind::Section;
    }
    return Kind::Pending;  // an entry when inih calls the handler for it, else an error line
  }

  static char* ReadLine(char* buffer, int size, void* stream) {
    auto* self = static_cast<IniParse*>(stream);
    const auto& lines = self->file->lines_;
    if (self->next >= lines.size() || size < 3) return nullptr;
    self->current = self->next++;
    const std::string& line = lines[self->current];
    if (line.size() + 2 > static_cast<std::size_t>(size) || line.find('\0') != std::string::npos) {
      // inih would cut the line and read the rest as a line of its own; it gets a comment instead.
      self->kinds.push_back(Kind::Unreadable);
      std::memcpy(buffer, ";\n", 3);
      return buffer;
    }
    self->kinds.push_back(self->Classify(self->current));
    std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = '\n';
    buffer[line.size() + 1] = '\0';
    return buffer;
  }

  static int Handle(void* user, const char* section, const char* name, const char* value) {
    auto* self = static_cast<IniParse*>(user);
    if (name == nullptr || self->kinds.empty()) return 1;  // a new-section call of some inih builds
    try {
      Kind& kind = self->kinds.back();
      auto& entries = self->file->entries_;
      if (kind == Kind::Continuation && !entries.empty()) {
        entries.back().pieces.emplace_back(value ? value : "");
        entries.back().lastLine = self->current;
      } else {
        IniFile::Entry entry;
        entry.section = section ? section : "";
        entry.key = name;
        entry.pieces.emplace_back(value ? value : "");
        entry.firstLine = entry.lastLine = self->current;
        entries.push_back(std::move(entry));
        kind = Kind::Entry;
        self->previousName = true;
      }
    } catch (const std::bad_alloc&) {
      self->failed = true;
      return 0;
    }
    return 1;
  }
};

IniFile::IniFile(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      lines_.emplace_back(text.substr(pos));
      break;
    }
    lines_.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
    finalNewline_ = pos == text.size();
  }
  crlf_ = !lines_.empty() && lines_.front().ends_with('\r') && (lines_.size() > 1 || finalNewline_);
  Parse();
}

void IniFile::Parse() {
  entries_.clear();
  blocks_.clear();
  problems_.clear();
  IniParse state;
  state.file = this;
  state.kinds.reserve(lines_.size());
  ini_parse_stream(&IniParse::ReadLine, &state, &IniParse::Handle, &state);
  if (state.failed) throw std::bad_alloc();
  for (std::size_t i = 0; i < state.kinds.size(); ++i) {
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    if (state.kinds[i] == IniParse::Kind::Unreadable) {
      problems_.push_back(where + "longer than the reader takes (" + std::to_string(lines_[i].size()) +
                          " bytes) or holds a NUL byte; ignored");
    } else if (state.kinds[i] == IniParse::Kind::Pending) {
      problems_.push_back(where + "neither \"[section]\" nor \"key=value\"; ignored");
    }
  }
}

std::optional<IniFile::Value> IniFile::Find(std::string_view section, std::string_view key) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (!SameName(it->section, section) || !SameName(it->key, key)) continue;
    Value value;
    value.line = static_cast<int>(it->firstLine + 1);
    if (!it->pieces.front().empty() && it->pieces.front().front() == '"') {
      std::string joined;
      for (const auto& piece : it->pieces) joined += piece;
      if (auto text = Unquote(joined)) {
        value.text = std::move(*text);
        value.valid = true;
      }
    } else {
      for (std::size_t i = 0; i < it->pieces.size(); ++i) {
        if (i > 0) value.text += '\n';
        value.text += it->pieces[i];
      }
      value.valid = true;
    }
    return value;
  }
  return std::nullopt;
}

std::vector<std::string> IniFile::EncodeEntry(std::string_view key, std::string_view value) {
  std::string first = std::string(key) + "=";
  if (CanWritePlain(value) && first.size() + value.size() <= kIniLineBudget) return {first + std::string(value)};

  // Quoted. No line may start (after its indent) or end with a blank, nor start with '#', or inih
  // would strip the blank or take the line for a comment; such characters are written as escapes.
  constexpr std::string_view kIndent = "  ";
  constexpr std::size_t kReserve = 4;  // room for the closing quote or for a space turned into "\x20"
  std::vector<std::string> lines;
  std::string line = first + "\"";
  bool atPieceStart = false;  // the first piece follows the opening quote, so it may start with anything
  for (std::string atom : QuotedAtoms(value)) {
    if (line.size() + atom.size() + kReserve > kIniLineBudget) {
      if (line.back() == ' ') {
        line.pop_back();
        line += "\\x20";
      }
      lines.push_back(std::move(line));
      line = std::string(kIndent);
      atPieceStart = true;
    }
    if (atPieceStart) {
      if (atom == " ") atom = "\\x20";
      if (atom == "#") atom = "\\#";
      atPieceStart = false;
    }
    line += atom;
  }
  line += '"';
  lines.push_back(std::move(line));
  return lines;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::vector<std::string> fresh = EncodeEntry(Trim(key), value);
  if (crlf_) {
    for (auto& line : fresh) line += '\r';
  }

  std::vector<const Entry*> hits;
  for (const auto& entry : entries_) {
    if (SameName(entry.section, section) && SameName(entry.key, key)) hits.push_back(&entry);
  }

  if (hits.size() == 1 &&
      std::equal(fresh.begin(), fresh.end(), lines_.begin() + static_cast<std::ptrdiff_t>(hits[0]->firstLine),
                 lines_.begin() + static_cast<std::ptrdiff_t>(hits[0]->lastLine + 1))) {
    return;  // already written this way
  }

  if (!hits.empty()) {
    // Later duplicates go first, from the back, so that earlier line numbers stay valid.
    for (std::size_t i = hits.size(); i-- > 1;) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(hits[i]->firstLine),
                   lines_.begin() + static_cast<std::ptrdiff_t>(hits[i]->lastLine + 1));
    }
    const auto from = lines_.begin() + static_cast<std::ptrdiff_t>(hits[0]->firstLine);
    const auto to = lines_.begin() + static_cast<std::ptrdiff_t>(hits[0]->lastLine + 1);
    lines_.insert(lines_.erase(from, to), fresh.begin(), fresh.end());
  } else {
    const Block* block = nullptr;
    for (const auto& b : blocks_) {
      if (SameName(b.section, section)) block = &b;
    }
    if (block != nullptr) {
      // After the block's last entry. A block without entries gets the line after its last
      // non-blank line, so that no indented line below it can be read as a continuation.
      std::size_t at = 0;
      bool found = false;
      for (const auto& entry : entries_) {
        if (entry.firstLine > block->header && entry.firstLine < block->end) {
          at = entry.lastLine + 1;
          found = true;
        }
      }
      if (!found) {
        at = block->end;
        while (at > block->header + 1 && Trim(lines_[at - 1]).empty()) --at;
      }
      lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), fresh.begin(), fresh.end());
    } else {
      const std::string cr = crlf_ ? "\r" : "";
      if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back(cr);
      lines_.push_back("[" + std::string(Trim(section)) + "]" + cr);
      lines_.insert(lines_.end(), fresh.begin(), fresh.end());
    }
  }
  finalNewline_ = true;
  Parse();
}

std::string IniFile::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines_[i];
  }
  if (finalNewline_ && !lines_.empty()) text += '\n';
  return text;
}

}  // namespace Kvx
