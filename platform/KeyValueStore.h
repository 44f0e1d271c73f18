#pragma once
// A small stand-in for a registry: hierarchical keys ("Software\Telmora\ComPort") holding named
// string and 32-bit integer values, kept in an INI file whose section names are the key paths.
// Strings are stored quoted ("text", with \\, \r and \n escaped) so blanks and line breaks
// survive; integers as "dword:" and eight hex digits. Plain unquoted text from a hand-edited
// file reads as a string.
//
// Changes collect in memory and are written (atomically) by CloseKey, Flush and the destructor;
// opening a key first picks up changes another process made to the file, unless this store has
// unwritten changes of its own.
#include "platform/IniFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TKeyValueStore {
public:
  enum class TValueKind { None, String, Integer };

  // The file under $XDG_CONFIG_HOME (or ~/.config): telmora/registry.ini.
  static std::string DefaultFilePath();

  explicit TKeyValueStore(const std::string &filePath = DefaultFilePath());
  ~TKeyValueStore();
  TKeyValueStore(const TKeyValueStore &) = delete;
  TKeyValueStore &operator=(const TKeyValueStore &) = delete;

  const std::string &FilePath() const { return FIni.FileName(); }

  // Opens the key at path, relative to the open key unless the path begins with "\". With
  // create, a missing key (and its parents) comes into being; without, a missing key fails and
  // the previously open key stays open. The root ("" or "\") always exists.
  bool OpenKey(std::string_view path, bool create);
  // Closes the open key and writes pending changes.
  void CloseKey();
  bool HasCurrentKey() const { return FKeyOpen; }
  const std::string &CurrentPath() const { return FCurrentPath; }

  // Relative to the open key unless the path begins with "\".
  bool KeyExists(std::string_view path) const;
  // Removes the key with all its values and subkeys; the root cannot be deleted. When the open
  // key is removed it is closed.
  bool DeleteKey(std::string_view path);
  // Names of the open key's direct subkeys, in the order they were created.
  std::vector<std::string> GetKeyNames() const;

  // Values of the open key; all fail (false, empty, nullopt) when no key is open. Value names
  // are matched without regard to letter case.
  std::vector<std::string> GetValueNames() const;
  bool ValueExists(std::string_view name) const;
  TValueKind GetValueKind(std::string_view name) const;
  // A missing value, or one that is not a string, reads as empty text.
  std::string ReadString(std::string_view name) const;
  // A missing value, or one that is not an integer, is a read error: nullopt.
  std::optional<int32_t> ReadInteger(std::string_view name) const;
  bool WriteString(std::string_view name, std::string_view value);
  bool WriteInteger(std::string_view name, int32_t value);
  bool DeleteValue(std::string_view name);

  // Writes pending changes to the file. True when there was nothing to write or it was written.
  bool Flush(std::string *error = nullptr);

  // The value forms used in the file, exposed for tests and hand-made files.
  static std::string EncodeString(std::string_view value);
  static std::string EncodeInteger(int32_t value);
  static TValueKind Decode(std::string_view stored, std::string *text, int32_t *number);

private:
  std::string Resolve(std::string_view path) const;

  TIniFile FIni;
  std::string FCurrentPath;
  bool FKeyOpen = false;
  bool FDirty = false;
};
