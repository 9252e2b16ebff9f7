// A small, strict XML reader: enough of XML 1.0 for SVG files (elements, attributes, character
// and predefined entity references, comments, CDATA, processing instructions and a DOCTYPE that
// is skipped). Text content is not kept: nothing we draw needs it. It never recurses, so any
// nesting depth costs only the stack vector.

#include <cstring>

#include "SvgCore.h"

namespace Korvath {
namespace View {
namespace Svg {
namespace Detail {

const std::string* XmlElement::attribute(std::string_view localName) const {
  for (const auto& a : attributes) {
    if (a.first == localName) return &a.second;
  }
  return nullptr;
}

namespace {

bool isNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr std::size_t kMaxAttributes = 256;

class Reader {
 public:
  Reader(const char* data, std::size_t size, std::size_t maxElements, XmlDocument& doc)
      : p_(data), end_(data + size), maxElements_(maxElements), doc_(doc) {}

  bool run() {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
    bool rootDone = false;
    while (p_ < end_) {
      if (*p_ != '<') {
        // Character data: outside the root only whitespace is allowed.
        const char* lt = static_cast<const char*>(std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_)));
        const char* stop = lt ? lt : end_;
        if (stack_.empty()) {
          for (const char* q = p_; q < stop; ++q) {
            if (!isSpace(*q)) return false;
          }
        }
        p_ = stop;
        continue;
      }
      if (startsWith("<?")) {
        if (!skipPast("?>")) return false;
      } else if (startsWith("<!--")) {
        p_ += 4;
        if (!skipPast("-->")) return false;
      } else if (startsWith("<![CDATA[")) {
        if (stack_.empty()) return false;
        if (!skipPast("]]>")) return false;
      } else if (startsWith("<!DOCTYPE")) {
        if (!stack_.empty() || rootDone || !skipDoctype()) return false;
      } else if (startsWith("</")) {
        p_ += 2;
        std::string name;
        if (!readName(name)) return false;
        skipSpace();
        if (p_ >= end_ || *p_ != '>') return false;
        ++p_;
        if (stack_.empty() || rawNames_.back() != name) return false;
        stack_.pop_back();
        rawNames_.pop_back();
        if (stack_.empty()) rootDone = true;
      } else {
        if (rootDone) return false;  // a second root element
        if (!readElement()) return false;
      }
    }
    return rootDone && stack_.empty();
  }

 private:
  bool startsWith(const char* s) const {
    std::size_t n = std::strlen(s);
    return static_cast<std::size_t>(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
  }
  bool skipPast(const char* s) {
    std::size_t n = std::strlen(s);
    for (const char* q = p_; static_cast<std::size_t>(end_ - q) >= n; ++q) {
      if (std::memcmp(q, s, n) == 0) {
        p_ = q + n;
        return true;
      }
    }
    return false;
  }
  void skipSpace() {
    while (p_ < end_ && isSpace(*p_)) ++p_;
  }
  bool skipDoctype() {
    // Internal subsets are skipped whole; the entities they declare are not supported.
    int bracket = 0;
    char quote = 0;
    for (p_ += 9; p_ < end_; ++p_) {
      char c = *p_;
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++bracket;
      } else if (c == ']') {
        --bracket;
      } else if (c == '>' && bracket <= 0) {
        ++p_;
        return true;
      }
    }
    return false;
  }
  bool readName(std::string& out) {
    if (p_ >= end_ || !isNameStart(static_cast<unsigned char>(*p_))) return false;
    const char* s = p_;
    while (p_ < end_ && isNameChar(static_cast<unsigned char>(*p_))) ++p_;
    out.assign(s, p_);
    return true;
  }
  static std::string localName(const std::string& name) {
    auto colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
  }
  bool readReference(std::string& out) {
    // At '&'.
    const char* semi = p_ + 1;
    while (semi < end_ && semi - p_ < 12 && *semi != ';') ++semi;
    if (semi >= end_ || *semi != ';') return false;
    std::string_view ref(p_ + 1, static_cast<std::size_t>(semi - p_ - 1));
    p_ = semi + 1;
    if (ref == "lt") return out += '<', true;
    if (ref == "gt") return out += '>', true;
    if (ref == "amp") return out += '&', true;
    if (ref == "quot") return out += '"', true;
    if (ref == "apos") return out += '\'', true;
    if (ref.size() < 2 || ref[0] != '#') return false;
    std::uint32_t cp = 0;
    bool hex = ref[1] == 'x';
    std::size_t i = hex ? 2 : 1;
    if (i >= ref.size()) return false;
    for (; i < ref.size(); ++i) {
      char c = ref[i];
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
      if (cp > 0x10FFFF) return false;
    }
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    appendUtf8(out, cp);
    return true;
  }
  bool readElement() {
    ++p_;  // '<'
    std::string rawName;
    if (!readName(rawName)) return false;
    if (doc_.elements.size() >= maxElements_) return false;
    std::uint32_t index = static_cast<std::uint32_t>(doc_.elements.size());
    doc_.elements.emplace_back();
    doc_.elements.back().name = localName(rawName);
    if (!stack_.empty()) doc_.elements[stack_.back()].children.push_back(index);
    std::vector<std::string> rawAttributeNames;
    for (;;) {
      bool spaced = p_ < end_ && isSpace(*p_);
      skipSpace();
      if (p_ >= end_) return false;
      if (*p_ == '>') {
        ++p_;
        stack_.push_back(index);
        rawNames_.push_back(std::move(rawName));
        return true;
      }
      if (*p_ == '/') {
        if (end_ - p_ < 2 || p_[1] != '>') return false;
        p_ += 2;
        return true;
      }
      if (!spaced) return false;
      std::string attrName;
      if (!readName(attrName)) return false;
      skipSpace();
      if (p_ >= end_ || *p_ != '=') return false;
      ++p_;
      skipSpace();
      if (p_ >= end_ || (*p_ != '"' && *p_ != '\'')) return false;
      char quote = *p_++;
      std::string value;
      while (p_ < end_ && *p_ != quote) {
        if (*p_ == '<') return false;
        if (*p_ == '&') {
          if (!readReference(value)) return false;
        } else {
          value += *p_++;
        }
      }
      if (p_ >= end_) return false;
      ++p_;
      // A repeated attribute is not well-formed; the cap keeps that check cheap.
      for (const auto& seen : rawAttributeNames) {
        if (seen == attrName) return false;
      }
      if (rawAttributeNames.size() >= kMaxAttributes) return false;
      rawAttributeNames.push_back(attrName);
      // xmlns declarations say nothing we draw; of two names with one local name
      // (href and xlink:href) the first one counts.
      if (attrName == "xmlns" || attrName.compare(0, 6, "xmlns:") == 0) continue;
      auto& attrs = doc_.elements[index].attributes;
      std::string local = localName(attrName);
      bool known = false;
      for (const auto& a : attrs) known = known || a.first == local;
      if (!known) attrs.emplace_back(std::move(local), std::move(value));
    }
  }

  const char* p_;
  const char* end_;
  std::size_t maxElements_;
  XmlDocument& doc_;
  std::vector<std::uint32_t> stack_;
  std::vector<std::string> rawNames_;
};

}  // namespace

bool parseXml(const char* data, std::size_t size, std::size_t maxElements, XmlDocument& out) {
  out.elements.clear();
  if (data == nullptr || size == 0) return false;
  Reader reader(data, size, maxElements, out);
  if (!reader.run()) {
    out.elements.clear();
    return false;
  }
  return !out.elements.empty();
}

}  // namespace Detail
}  // namespace Svg
}  // namespace View
}  // namespace Korvath
