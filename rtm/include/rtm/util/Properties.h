#ifndef RTM_PROPERTIES_H
#define RTM_PROPERTIES_H

#include <climits>
#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace RTC
{
  // String properties with dotted, hierarchical keys ("exec_cxt.periodic.rate").
  // Keys keep the order in which they were first set.
  class Properties
  {
  public:
    Properties() = default;

    // Reads alternating keys and values from `pairs`, stopping at the first
    // empty key or after `count` entries, whichever comes first.
    explicit Properties(const char* const pairs[], long count = LONG_MAX);

    std::string getProperty(const std::string& key, const std::string& fallback = "") const;
    bool hasKey(const std::string& key) const;
    void setProperty(const std::string& key, const std::string& value);

    // Every key, in first-set order.
    std::vector<std::string> propertyNames() const;
    std::size_t size() const { return entries_.size(); }

    // The keys below "prefix.", with the prefix taken off.
    Properties getNode(const std::string& prefix) const;

    // Sets every property of `other` here; `other` wins on equal keys.
    Properties& operator<<(const Properties& other);

    // Adds the pairs of a configuration file: one "key: value" or
    // "key = value" per line ("key value" when neither separator occurs),
    // '#' and '!' start comment lines, a trailing backslash continues a line,
    // backslash escapes the separators, blanks, \t, \n and \r.
    void load(std::istream& in);

  private:
    void addPair(const std::string& logicalLine);

    std::vector<std::pair<std::string, std::string>> entries_;
  };

  // YES/NO as configuration values are written: case-insensitive, anything
  // else gives `fallback`.
  bool isYes(const std::string& value, bool fallback = false);

  // Splits at `separator` and trims blanks off each part; drops empty parts.
  std::vector<std::string> splitList(const std::string& text, char separator = ',');

  std::string trimmed(const std::string& text);

  // Takes the escapes of configuration text off: \t, \n, \r, and a
  // backslash before any other character stands for that character.
  std::string unescaped(const std::string& text);
}

#endif // RTM_PROPERTIES_H
