#include "styles/xml_writer.h"

#include <charconv>
#include <cstdint>

namespace Kvx {
namespace {

void AppendReplacement(std::string& out) { out += "\xEF\xBF\xBD"; }

// The length of the valid UTF-8 sequence at `s[i]`, or 0.
std::size_t SequenceLength(std::string_view s, std::size_t i, std::uint32_t* code) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (c < 0x80) {
    *code = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
  static constexpr std::uint32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLowest[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  *code = cp;
  return n;
}

}  // namespace

std::string XmlWriter::Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    // A run of printable ASCII that needs no escape goes in at once.
    std::size_t plain = i;
    while (plain < text.size()) {
      const auto c = static_cast<unsigned char>(text[plain]);
      if (c < 0x20 || c >= 0x80 || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') break;
      ++plain;
    }
    if (plain > i) {
      out.append(text.substr(i, plain - i));
      i = plain;
      continue;
    }
    std::uint32_t code = 0;
    const std::size_t n = SequenceLength(text, i, &code);
    if (n == 0) {
      AppendReplacement(out);
      ++i;
      continue;
    }
    switch (code) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (code < 0x20 || code == 0xFFFE || code == 0xFFFF) AppendReplacement(out);
        else out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

XmlWriter::XmlWriter(std::string_view doctype) {
  out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  // A doctype holds no references: it is written as given, or not at all when it holds markup
  // or anything but printable ASCII.
  bool plain = !doctype.empty();
  for (char c : doctype)
    if (c < 0x20 || c > 0x7E || c == '<' || c == '>' || c == '&') plain = false;
  if (plain) {
    out_ += "<!DOCTYPE ";
    out_ += doctype;
    out_ += ">\n";
  }
}

void XmlWriter::Indent() { out_.append(open_.size() * 2, ' '); }

void XmlWriter::EndStartTag() {
  if (inStartTag_) {
    out_ += ">";
    inStartTag_ = false;
  }
}

XmlWriter& XmlWriter::Open(std::string_view name) {
  if (inStartTag_) {
    out_ += ">\n";
    inStartTag_ = false;
  } else if (!open_.empty() && !hasText_ && out_.back() != '\n') {
    out_ += "\n";
  }
  Indent();
  out_ += "<";
  out_ += Escape(name);
  open_.emplace_back(name);
  inStartTag_ = true;
  hasText_ = false;
  return *this;
}

XmlWriter& XmlWriter::Attribute(std::string_view name, std::string_view value) {
  if (!inStartTag_) return *this;
  out_ += " ";
  out_ += Escape(name);
  out_ += "=\"";
  out_ += Escape(value);
  out_ += "\"";
  return *this;
}

XmlWriter& XmlWriter::Attribute(std::string_view name, long long value) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return Attribute(name, std::string_view(text, static_cast<std::size_t>(r.ptr - text)));
}

XmlWriter& XmlWriter::Attribute(std::string_view name, double value) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return Attribute(name, std::string_view(text, static_cast<std::size_t>(r.ptr - text)));
}

XmlWriter& XmlWriter::Text(std::string_view text) {
  if (open_.empty()) return *this;
  EndStartTag();
  out_ += Escape(text);
  hasText_ = true;
  return *this;
}

XmlWriter& XmlWriter::Close() {
  if (open_.empty()) return *this;
  const std::string name = std::move(open_.back());
  open_.pop_back();
  if (inStartTag_) {
    out_ += "/>\n";
    inStartTag_ = false;
  } else {
    if (!hasText_) Indent();
    out_ += "</";
    out_ += Escape(name);
    out_ += ">\n";
  }
  hasText_ = false;
  return *this;
}

XmlWriter& XmlWriter::Empty(std::string_view name,
                            std::initializer_list<std::pair<std::string_view, std::string_view>> attributes) {
  Open(name);
  for (const auto& [key, value] : attributes) Attribute(key, value);
  return Close();
}

std::string XmlWriter::Finish() {
  while (!open_.empty()) Close();
  return std::move(out_);
}

}  // namespace Kvx
