#pragma once
// An INI file held in memory: sections in the order they were first created, keys in the order
// they were first written, names matched without regard to (ASCII) letter case. Text is 8-bit
// and kept as it is; byte 0 is allowed. The file on disk changes only through UpdateFile, which
// replaces it atomically.
#include "platform/AtomicFile.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Joins store path parts with "\": empty elements are dropped, and a part that begins with "\"
// discards everything before it. The result has no leading or trailing "\".
std::string JoinStorePath(std::initializer_list<std::string_view> parts);
std::string JoinStorePath(std::string_view a, std::string_view b);

// Splits a value path into its section (all elements but the last, joined by "\") and its key
// (the last element).
std::pair<std::string, std::string> SplitStorePath(std::string_view path);

class TIniFile {
public:
  TIniFile() = default;
  // Sets the file name and loads the file if it exists.
  explicit TIniFile(const std::string &fileName);

  // --- values ---
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string &defaultValue) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Decimal, optionally signed, within 32 bits; anything else (also an empty value) gives the
  // default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // "TRUE", "YES", "Y" / "FALSE", "NO", "N" in any case, else a decimal number (non-zero true);
  // anything else gives the default.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  // Written as "TRUE" or "FALSE".
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // The conversions behind the typed readers, for callers that must tell a bad value apart.
  static bool ParseInteger(std::string_view text, int32_t &out);
  static bool ParseBool(std::string_view text, bool &out);

  // --- structure ---
  // Creates an empty section unless it exists (it is written even without keys).
  void CreateSection(std::string_view section) { AddSection(section); }
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::vector<std::string> ReadSection(std::string_view section) const; // keys in order
  std::vector<std::string> ReadSections() const;                        // names in order
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  void Clear();

  // --- text ---
  // Replaces the content with the parsed text (see the reading rules in the .cpp).
  void LoadFromText(std::string_view text);
  // "[name]" CR LF, "key=value" CR LF per key, then an empty line, for every section.
  std::string SaveToText() const;

  // --- file ---
  const std::string &FileName() const { return FFileName; }
  // Changes the name only; the content and the stamp of the last load stay.
  void SetFileName(const std::string &fileName) { FFileName = fileName; }
  // What a settings-sized file may hold: a longer line or a bigger file is no INI file of ours
  // (a copy of /dev/zero, say) and is refused rather than read into memory.
  static constexpr TReadBounds Bounds{64u << 20, 1u << 20};
  // Sets the file name and replaces the content with the file's; a missing, unreadable or
  // oversized file (see Bounds) leaves the content empty and returns false.
  bool LoadFromFile(const std::string &fileName, std::string *error = nullptr);
  // Replaces the content with the file's when the file exists and has changed (modification
  // time, size or identity) since it was last loaded or written. True when reloaded; a file that
  // cannot be read keeps the copy (false, with *error).
  bool ReloadIfChanged(std::string *error = nullptr);
  // Files brought from the older platform are Windows-1252: with this on, a line of a loaded
  // file that is not valid UTF-8 is read as Windows-1252 (and kept as UTF-8).
  void SetLegacyLinesAsCp1252(bool on) { FLegacyLines = on; }
  // The file exists and may not be written.
  bool IsReadOnly() const { return IsFileReadOnly(FFileName); }
  // Writes the whole content to FileName, creating its folders and replacing the file
  // atomically. False when no name is set, the file is read-only or writing fails.
  bool UpdateFile(std::string *error = nullptr);

private:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;
    std::unordered_map<std::string, size_t> Index; // folded key -> position in Values
  };

  const TSection *FindSection(std::string_view section) const;
  TSection *FindSection(std::string_view section);
  TSection &AddSection(std::string_view section);
  const std::string *FindValue(std::string_view section, std::string_view key) const;
  static void SetValue(TSection &s, std::string_view key, std::string_view value, bool keepFirst);
  void RebuildSectionIndex();

  std::vector<TSection> FSections;
  std::unordered_map<std::string, size_t> FSectionIndex; // folded name -> position
  std::string FFileName;
  TFileStamp FStamp; // of the file as last loaded or written
  bool FLegacyLines = false;
};
