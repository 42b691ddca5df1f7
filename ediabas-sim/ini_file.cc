#include "ediabas-sim/ini_file.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ediabas_sim {

namespace {

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::optional<long long> ParseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  std::string digits = text;
  bool negative = false;
  if (digits[0] == '-') {
    negative = true;
    digits.erase(0, 1);
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty()) return std::nullopt;
  for (char c : digits)
    if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
      return std::nullopt;
  errno = 0;
  long long value = std::strtoll(digits.c_str(), nullptr, base);
  if (errno == ERANGE) return std::nullopt;
  return negative ? -value : value;
}

std::optional<TIniFile> TIniFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  TIniFile ini;
  std::string section;
  std::string line;
  while (std::getline(in, line)) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    if (text.front() == '[' && text.back() == ']') {
      section = Trim(text.substr(1, text.size() - 2));
      continue;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    ini.Set(section, Trim(text.substr(0, equals)), Trim(text.substr(equals + 1)));
  }
  return ini;
}

bool TIniFile::Save(const std::string& path, const std::string& headerComment) const {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (!headerComment.empty()) out << "# " << headerComment << "\n";
    for (const TSection& section : sections_) {
      out << "[" << section.name << "]\n";
      for (const auto& [key, value] : section.entries) out << key << " = " << value << "\n";
    }
    out.flush();
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  return !ec;
}

TIniFile::TSection* TIniFile::FindSection(const std::string& name) {
  auto found = sectionIndex_.find(LowerAscii(name));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second];
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& name) const {
  return const_cast<TIniFile*>(this)->FindSection(name);
}

std::optional<std::string> TIniFile::Get(const std::string& section, const std::string& key) const {
  const TSection* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  auto entry = found->index.find(LowerAscii(key));
  if (entry == found->index.end()) return std::nullopt;
  return found->entries[entry->second].second;
}

std::string TIniFile::GetOr(const std::string& section, const std::string& key, const std::string& fallback) const {
  return Get(section, key).value_or(fallback);
}

long long TIniFile::GetInt(const std::string& section, const std::string& key, long long fallback) const {
  std::optional<std::string> text = Get(section, key);
  if (!text) return fallback;
  return ParseInteger(*text).value_or(fallback);
}

void TIniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  TSection* found = FindSection(section);
  if (found == nullptr) {
    sectionIndex_.emplace(LowerAscii(section), sections_.size());
    sections_.push_back(TSection{section, {}, {}});
    found = &sections_.back();
  }
  auto [entry, added] = found->index.emplace(LowerAscii(key), found->entries.size());
  if (added)
    found->entries.emplace_back(key, value);
  else
    found->entries[entry->second].second = value;
}

}  // namespace ediabas_sim
