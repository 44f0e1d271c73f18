#include "platform/KeyValueStore.h"

#include <cstdlib>
#include <unordered_set>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr std::string_view IntegerPrefix = "dword:";

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// True when key lies at or below the key folded as ancestor ("" is the root).
bool IsAtOrBelow(std::string_view key, const std::string &foldedAncestor) {
  if (foldedAncestor.empty()) return true;
  const std::string k = Fold(key);
  return k == foldedAncestor ||
         (k.size() > foldedAncestor.size() && k.compare(0, foldedAncestor.size(), foldedAncestor) == 0 &&
          k[foldedAncestor.size()] == '\\');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HomeFolder() {
  if (const char *home = std::getenv("HOME"); home && *home) return home;
  if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return ".";
}

} // namespace

std::string TKeyValueStore::DefaultFilePath() {
  // A relative XDG_CONFIG_HOME is to be ignored, as the XDG base directory rules say.
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string base = (xdg && xdg[0] == '/') ? std::string(xdg) : HomeFolder() + "/.config";
  return base + "/telmora/registry.ini";
}

TKeyValueStore::TKeyValueStore(const std::string &filePath) : FIni(filePath) {}

TKeyValueStore::~TKeyValueStore() { Flush(); }

std::string TKeyValueStore::Resolve(std::string_view path) const {
  return JoinStorePath(FKeyOpen ? std::string_view(FCurrentPath) : std::string_view(), path);
}

// --- keys ---

bool TKeyValueStore::OpenKey(std::string_view path, bool create) {
  // Unwritten changes of our own win over the file; otherwise take what others have written.
  if (!FDirty) FIni.ReloadIfChanged();
  const std::string key = Resolve(path);
  if (!KeyExists(path)) {
    if (!create) return false;
    FIni.CreateSection(key);
    FDirty = true;
  }
  FCurrentPath = key;
  FKeyOpen = true;
  return true;
}

void TKeyValueStore::CloseKey() {
  Flush();
  FCurrentPath.clear();
  FKeyOpen = false;
}

bool TKeyValueStore::KeyExists(std::string_view path) const {
  const std::string key = Resolve(path);
  if (key.empty()) return true;
  // A key exists as a section of its own or as the parent of one.
  const std::string folded = Fold(key);
  for (const std::string &section : FIni.ReadSections())
    if (IsAtOrBelow(section, folded)) return true;
  return false;
}

bool TKeyValueStore::DeleteKey(std::string_view path) {
  const std::string key = Resolve(path);
  if (key.empty()) return false;
  const std::string folded = Fold(key);
  bool removed = false;
  for (const std::string &section : FIni.ReadSections()) {
    if (!IsAtOrBelow(section, folded)) continue;
    FIni.EraseSection(section);
    removed = true;
  }
  if (!removed) return false;
  FDirty = true;
  if (FKeyOpen && IsAtOrBelow(FCurrentPath, folded)) {
    FCurrentPath.clear();
    FKeyOpen = false;
  }
  return true;
}

std::vector<std::string> TKeyValueStore::GetKeyNames() const {
  const std::string prefix = FCurrentPath.empty() ? std::string() : Fold(FCurrentPath) + "\\";
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (const std::string &section : FIni.ReadSections()) {
    if (section.size() <= prefix.size() || Fold(section).compare(0, prefix.size(), prefix) != 0)
      continue;
    const std::string rest = section.substr(prefix.size());
    const std::string child = rest.substr(0, rest.find('\\'));
    if (!child.empty() && seen.insert(Fold(child)).second) names.push_back(child);
  }
  return names;
}

// --- values ---

std::vector<std::string> TKeyValueStore::GetValueNames() const {
  return FKeyOpen ? FIni.ReadSection(FCurrentPath) : std::vector<std::string>{};
}

bool TKeyValueStore::ValueExists(std::string_view name) const {
  return FKeyOpen && FIni.ValueExists(FCurrentPath, name);
}

TKeyValueStore::TValueKind TKeyValueStore::GetValueKind(std::string_view name) const {
  if (!ValueExists(name)) return TValueKind::None;
  return Decode(FIni.ReadString(FCurrentPath, name, {}), nullptr, nullptr);
}

std::string TKeyValueStore::ReadString(std::string_view name) const {
  std::string text;
  if (ValueExists(name) &&
      Decode(FIni.ReadString(FCurrentPath, name, {}), &text, nullptr) == TValueKind::String)
    return text;
  return {};
}

std::optional<int32_t> TKeyValueStore::ReadInteger(std::string_view name) const {
  int32_t number = 0;
  if (ValueExists(name) &&
      Decode(FIni.ReadString(FCurrentPath, name, {}), nullptr, &number) == TValueKind::Integer)
    return number;
  return std::nullopt;
}

bool TKeyValueStore::WriteString(std::string_view name, std::string_view value) {
  if (!FKeyOpen) return false;
  FIni.WriteString(FCurrentPath, name, EncodeString(value));
  FDirty = true;
  return true;
}

bool TKeyValueStore::WriteInteger(std::string_view name, int32_t value) {
  if (!FKeyOpen) return false;
  FIni.WriteString(FCurrentPath, name, EncodeInteger(value));
  FDirty = true;
  return true;
}

bool TKeyValueStore::DeleteValue(std::string_view name) {
  if (!ValueExists(name)) return false;
  FIni.DeleteKey(FCurrentPath, name);
  FDirty = true;
  return true;
}

bool TKeyValueStore::Flush(std::string *error) {
  if (!FDirty) return true;
  if (!FIni.UpdateFile(error)) return false;
  FDirty = false;
  return true;
}

// --- value forms ---

std::string TKeyValueStore::EncodeString(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '\r': out += "\\r"; break;
    case '\n': out += "\\n"; break;
    default: out += c;
    }
  }
  out += '"';
  return out;
}

std::string TKeyValueStore::EncodeInteger(int32_t value) {
  static const char digits[] = "0123456789abcdef";
  const auto bits = static_cast<uint32_t>(value);
  std::string out(IntegerPrefix);
  for (int shift = 28; shift >= 0; shift -= 4) out += digits[(bits >> shift) & 0xF];
  return out;
}

TKeyValueStore::TValueKind TKeyValueStore::Decode(std::string_view stored, std::string *text,
                                                  int32_t *number) {
  if (stored.substr(0, IntegerPrefix.size()) == IntegerPrefix) {
    const std::string_view hex = stored.substr(IntegerPrefix.size());
    uint32_t bits = 0;
    bool ok = !hex.empty() && hex.size() <= 8;
    for (char c : hex) {
      const int d = HexDigit(c);
      if (d < 0) ok = false;
      bits = (bits << 4) | static_cast<uint32_t>(d & 0xF);
    }
    if (ok) {
      if (number) *number = static_cast<int32_t>(bits);
      return TValueKind::Integer;
    }
  }
  if (!text) return TValueKind::String;
  if (stored.size() < 2 || stored.front() != '"' || stored.back() != '"') {
    *text = stored; // hand-written plain text
    return TValueKind::String;
  }
  const std::string_view inner = stored.substr(1, stored.size() - 2);
  text->clear();
  for (size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    const char next = i + 1 < inner.size() ? inner[i + 1] : '\0';
    if (c == '\\' && (next == '\\' || next == 'r' || next == 'n')) {
      *text += next == '\\' ? '\\' : next == 'r' ? '\r' : '\n';
      ++i;
    } else {
      *text += c;
    }
  }
  return TValueKind::String;
}
