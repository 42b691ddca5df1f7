// The plain text format of the simulated car and of its state file: "[SECTION]" lines
// and "key = value" lines, comments starting with '#'. Section and key names match
// without regard to case; values are kept byte for byte (Windows-1252), with the blanks
// around them removed. Keys are indexed by their lower-case name, so a lookup or a set
// takes constant time and loading or saving a file is linear in its lines (a state file
// holds thousands of history entries). Owns its values; not locked.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ediabas_sim {

class TIniFile {
 public:
  // Reads the file; nullopt when it cannot be opened.
  static std::optional<TIniFile> Load(const std::string& path);
  // Writes all sections through a temporary file renamed over the target, so a reader
  // never sees half a file. False when it cannot be written.
  bool Save(const std::string& path, const std::string& headerComment) const;

  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  std::string GetOr(const std::string& section, const std::string& key, const std::string& fallback) const;
  // A decimal or 0x-prefixed integer; fallback when absent or malformed.
  long long GetInt(const std::string& section, const std::string& key, long long fallback) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);

 private:
  struct TSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;  // in file order
    std::unordered_map<std::string, std::size_t> index;       // lower-case key -> entry
  };
  TSection* FindSection(const std::string& name);
  const TSection* FindSection(const std::string& name) const;

  std::vector<TSection> sections_;                         // in file order
  std::unordered_map<std::string, std::size_t> sectionIndex_;  // lower-case name -> section
};

// Lower-case ASCII copy, for names that match without regard to case.
std::string LowerAscii(std::string text);
// Parses a decimal or 0x-prefixed hexadecimal integer, the whole text.
std::optional<long long> ParseInteger(const std::string& text);

}  // namespace ediabas_sim
