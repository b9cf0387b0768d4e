#pragma once

// An INI file held line by line. inih reads it; a change rewrites only the lines of the entry it
// touches, so comments, blank lines, unknown sections and keys and their order stay as they were.
//
// Names of sections and keys are compared without regard to ASCII letter case and surrounding blanks,
// as the registry that these files stand in for compares them.
//
// Values that inih would not hand back unchanged are written quoted, with backslash escapes:
// values with leading or trailing blanks, control characters, a blank followed by ';' (inih takes
// that for a comment), a leading double quote, or values too long for inih's line buffer. A long
// quoted value is split over indented continuation lines, which inih hands over piece by piece:
//
//     OutPath="/data/maps \;old"
//     LibPath="/very/long/folder/...
//       .../Slib"
//
// Escapes inside quotes: \\  \"  \;  \#  \n  \r  \t  \xHH. An unquoted value is taken literally;
// when a hand-written unquoted value goes on over continuation lines, its pieces are joined with "\n".

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kvx {

// The longest line this module writes, in bytes without the line end. inih's line buffer takes
// lines of up to 198 bytes in its default build; this leaves room for a smaller build.
inline constexpr std::size_t kIniLineBudget = 160;

class IniFile {
 public:
  struct Value {
    std::string text;    // the decoded value
    bool valid = false;  // false: a quoted value that is not closed or holds an unknown escape
    int line = 0;        // one-based line number of the entry
  };

  IniFile() = default;
  // Takes the whole text of a file. Never fails: lines that are neither a section, an entry, a
  // comment nor blank are kept as they are and listed in Problems().
  explicit IniFile(std::string_view text);

  // The last entry `key` of section `section`, or nothing when there is none.
  std::optional<Value> Find(std::string_view section, std::string_view key) const;

  // Gives `key` in `section` the value `value`: the first entry of that name is rewritten in place
  // and any later duplicates are removed; a missing entry is added after the last entry of its
  // section, and a missing section is added at the end of the file.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The file's text. Unchanged input comes back byte for byte.
  std::string Text() const;

  // One text per line that could not be read ("line 7: ..."), in file order.
  const std::vector<std::string>& Problems() const { return problems_; }

  // The lines that Set writes for one entry (without line ends).
  static std::vector<std::string> EncodeEntry(std::string_view key, std::string_view value);

 private:
  struct Entry {
    std::string section;              // as inih reports it
    std::string key;                  // as inih reports it
    std::vector<std::string> pieces;  // the value of the key line, then of each continuation line
    std::size_t firstLine = 0;
    std::size_t lastLine = 0;
  };
  struct Block {  // one "[section]" header and the lines up to the next header
    std::string section;
    std::size_t header = 0;
    std::size_t end = 0;  // one past the block's last line
  };
  friend struct IniParse;

  void Parse();

  std::vector<std::string> lines_;  // without '\n'; a CR of a CR LF file stays on its line
  bool finalNewline_ = false;
  bool crlf_ = false;
  std::vector<Entry> entries_;
  std::vector<Block> blocks_;
  std::vector<std::string> problems_;
};

}  // namespace Kvx
