#include "rtm/util/Properties.h"

#include <algorithm>
#include <cctype>

namespace RTC
{
  namespace
  {
    bool isBlank(char c)
    {
      return c == ' ' || c == '\t';
    }

    // Position of the first unescaped ':' or '=', else of the first
    // unescaped blank, else npos.
    std::size_t separatorOf(const std::string& line)
    {
      std::size_t blank = std::string::npos;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
          ++i;
          continue;
        }
        if (line[i] == ':' || line[i] == '=')
          return i;
        if (blank == std::string::npos && isBlank(line[i]))
          blank = i;
      }
      return blank;
    }

    // A line continues when it ends in an odd number of backslashes.
    bool continues(const std::string& line)
    {
      std::size_t slashes = 0;
      for (auto it = line.rbegin(); it != line.rend() && *it == '\\'; ++it)
        ++slashes;
      return slashes % 2 == 1;
    }
  }

  Properties::Properties(const char* const pairs[], long count)
  {
    for (long i = 0; i + 1 < count; i += 2) {
      if (pairs[i] == nullptr || pairs[i][0] == '\0' || pairs[i + 1] == nullptr)
        break;
      setProperty(pairs[i], pairs[i + 1]);
    }
  }

  std::string Properties::getProperty(const std::string& key, const std::string& fallback) const
  {
    for (const auto& entry : entries_)
      if (entry.first == key)
        return entry.second;
    return fallback;
  }

  bool Properties::hasKey(const std::string& key) const
  {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& entry) { return entry.first == key; });
  }

  void Properties::setProperty(const std::string& key, const std::string& value)
  {
    for (auto& entry : entries_) {
      if (entry.first == key) {
        entry.second = value;
        return;
      }
    }
    entries_.emplace_back(key, value);
  }

  std::vector<std::string> Properties::propertyNames() const
  {
    std::vector<std::string> names;
    for (const auto& entry : entries_)
      names.push_back(entry.first);
    return names;
  }

  Properties Properties::getNode(const std::string& prefix) const
  {
    const std::string head = prefix + ".";
    Properties node;
    for (const auto& entry : entries_)
      if (entry.first.compare(0, head.size(), head) == 0 && entry.first.size() > head.size())
        node.setProperty(entry.first.substr(head.size()), entry.second);
    return node;
  }

  Properties& Properties::operator<<(const Properties& other)
  {
    for (const auto& entry : other.entries_)
      setProperty(entry.first, entry.second);
    return *this;
  }

  void Properties::load(std::istream& in)
  {
    std::string line;
    std::string logical;
    bool continuing = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      // A continuation keeps its trailing blanks: they may be escaped.
      std::string part = continuing ? line.substr(std::min(line.find_first_not_of(" \t"), line.size()))
                                    : trimmed(line);
      if (!continuing && (part.empty() || part[0] == '#' || part[0] == '!'))
        continue;
      continuing = continues(part);
      if (continuing) {
        part.pop_back();
        logical += part;
        continue;
      }
      addPair(logical + part);
      logical.clear();
    }
    if (continuing)
      addPair(logical);
  }

  void Properties::addPair(const std::string& logicalLine)
  {
    const std::string whole = trimmed(logicalLine);
    std::size_t at = separatorOf(whole);
    if (at == std::string::npos)
      setProperty(unescaped(whole), "");
    else
      setProperty(unescaped(trimmed(whole.substr(0, at))), unescaped(trimmed(whole.substr(at + 1))));
  }

  bool isYes(const std::string& value, bool fallback)
  {
    std::string upper;
    for (char c : value)
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find("YES") != std::string::npos)
      return true;
    if (upper.find("NO") != std::string::npos)
      return false;
    return fallback;
  }

  std::vector<std::string> splitList(const std::string& text, char separator)
  {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      std::size_t end = text.find(separator, start);
      std::string part = trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (!part.empty())
        parts.push_back(part);
      if (end == std::string::npos)
        return parts;
      start = end + 1;
    }
  }

  std::string unescaped(const std::string& text)
  {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\\' || i + 1 == text.size()) {
        out += text[i];
        continue;
      }
      char c = text[++i];
      switch (c) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: out += c; break;
      }
    }
    return out;
  }

  std::string trimmed(const std::string& text)
  {
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
      return "";
    std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
  }
}
