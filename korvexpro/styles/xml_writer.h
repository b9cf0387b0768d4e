#pragma once

// A small XML writer: elements with attributes, nested by Open/Close, every attribute value and
// text escaped. The document is UTF-8; text that is not valid UTF-8, and characters XML 1.0 does not
// allow (control characters other than tab, line feed and carriage return), are written as U+FFFD,
// so the result is always well-formed.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Kvx {

class XmlWriter {
 public:
  // Starts the document with its declaration and, if given, a doctype line ("<!DOCTYPE name>";
  // left out when `doctype` holds markup or anything but printable ASCII).
  explicit XmlWriter(std::string_view doctype = {});

  // <name attr="value" ...>; attributes follow with Attribute() until the next element or text.
  XmlWriter& Open(std::string_view name);
  XmlWriter& Attribute(std::string_view name, std::string_view value);
  XmlWriter& Attribute(std::string_view name, long long value);
  XmlWriter& Attribute(std::string_view name, double value);
  // Escaped character data inside the element open last.
  XmlWriter& Text(std::string_view text);
  // Closes the element open last: "/>" when it has no content.
  XmlWriter& Close();
  // Open(name) with attributes given as pairs, then Close().
  XmlWriter& Empty(std::string_view name, std::initializer_list<std::pair<std::string_view, std::string_view>> attributes);

  // The document; elements still open are closed.
  std::string Finish();

  // `text` escaped for an attribute value or character data.
  static std::string Escape(std::string_view text);

 private:
  void EndStartTag();
  void Indent();

  std::string out_;
  std::vector<std::string> open_;
  bool inStartTag_ = false;
  bool hasText_ = false;
};

}  // namespace Kvx
