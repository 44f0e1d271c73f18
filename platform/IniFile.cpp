#include "platform/IniFile.h"

#include <algorithm>
#include <limits>

#include "platform/TextCodec.h"

namespace {

constexpr char Sep = '\\';

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = FoldChar(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  return true;
}

// A line break inside a name or value would turn into lines of its own on the next load (and
// could forge sections), so it is written as a blank; the rest is written as it is.
void AppendFlat(std::string &out, std::string_view s) {
  for (char c : s) out += (c == '\r' || c == '\n') ? ' ' : c;
}

void AppendElements(std::vector<std::string_view> &elements, std::string_view part) {
  if (!part.empty() && part.front() == Sep) elements.clear();
  size_t start = 0;
  while (start <= part.size()) {
    const size_t end = std::min(part.find(Sep, start), part.size());
    if (end > start) elements.push_back(part.substr(start, end - start));
    start = end + 1;
  }
}

std::string JoinElements(const std::vector<std::string_view> &elements, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out += Sep;
    out += elements[i];
  }
  return out;
}

} // namespace

std::string JoinStorePath(std::initializer_list<std::string_view> parts) {
  std::vector<std::string_view> elements;
  for (std::string_view part : parts) AppendElements(elements, part);
  return JoinElements(elements, elements.size());
}

std::string JoinStorePath(std::string_view a, std::string_view b) { return JoinStorePath({a, b}); }

std::pair<std::string, std::string> SplitStorePath(std::string_view path) {
  std::vector<std::string_view> elements;
  AppendElements(elements, path);
  if (elements.empty()) return {};
  return {JoinElements(elements, elements.size() - 1), std::string(elements.back())};
}

// ---------------------------------------------------------------------------------------------

TIniFile::TIniFile(const std::string &fileName) {
  FFileName = fileName;
  if (StatFile(fileName).Exists) LoadFromFile(fileName);
}

const TIniFile::TSection *TIniFile::FindSection(std::string_view section) const {
  const auto it = FSectionIndex.find(Fold(section));
  return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

TIniFile::TSection *TIniFile::FindSection(std::string_view section) {
  const auto it = FSectionIndex.find(Fold(section));
  return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

TIniFile::TSection &TIniFile::AddSection(std::string_view section) {
  if (TSection *s = FindSection(section)) return *s;
  FSectionIndex.emplace(Fold(section), FSections.size());
  FSections.push_back(TSection{std::string(section), {}, {}});
  return FSections.back();
}

const std::string *TIniFile::FindValue(std::string_view section, std::string_view key) const {
  const TSection *s = FindSection(section);
  if (!s) return nullptr;
  const auto it = s->Index.find(Fold(key));
  return it == s->Index.end() ? nullptr : &s->Values[it->second].second;
}

void TIniFile::SetValue(TSection &s, std::string_view key, std::string_view value, bool keepFirst) {
  const auto [it, added] = s.Index.emplace(Fold(key), s.Values.size());
  if (added)
    s.Values.emplace_back(std::string(key), std::string(value));
  else if (!keepFirst)
    s.Values[it->second].second = value; // in place: the key keeps its position and spelling
}

void TIniFile::RebuildSectionIndex() {
  FSectionIndex.clear();
  for (size_t i = 0; i < FSections.size(); ++i) FSectionIndex.emplace(Fold(FSections[i].Name), i);
}

// --- values ---

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string &defaultValue) const {
  const std::string *v = FindValue(section, key);
  return v ? *v : defaultValue;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  SetValue(AddSection(section), key, value, false);
}

bool TIniFile::ParseInteger(std::string_view text, int32_t &out) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                 : int64_t{std::numeric_limits<int32_t>::max()};
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return false;
  }
  out = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

bool TIniFile::ParseBool(std::string_view text, bool &out) {
  text = Trim(text);
  for (std::string_view t : {"TRUE", "YES", "Y"})
    if (EqualsNoCase(text, t)) return out = true, true;
  for (std::string_view f : {"FALSE", "NO", "N"})
    if (EqualsNoCase(text, f)) return out = false, true;
  int32_t number = 0;
  if (!ParseInteger(text, number)) return false;
  out = number != 0;
  return true;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t defaultValue) const {
  const std::string *v = FindValue(section, key);
  int32_t result = defaultValue;
  if (v && ParseInteger(*v, result)) return result;
  return defaultValue;
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  const std::string *v = FindValue(section, key);
  bool result = defaultValue;
  if (v && ParseBool(*v, result)) return result;
  return defaultValue;
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "TRUE" : "FALSE");
}

// --- structure ---

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section); }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindValue(section, key);
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  if (const TSection *s = FindSection(section))
    for (const auto &kv : s->Values) keys.push_back(kv.first);
  return keys;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const TSection &s : FSections) names.push_back(s.Name);
  return names;
}

void TIniFile::EraseSection(std::string_view section) {
  const auto it = FSectionIndex.find(Fold(section));
  if (it == FSectionIndex.end()) return;
  FSections.erase(FSections.begin() + static_cast<std::ptrdiff_t>(it->second));
  RebuildSectionIndex();
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  TSection *s = FindSection(section);
  if (!s) return;
  const auto it = s->Index.find(Fold(key));
  if (it == s->Index.end()) return;
  s->Values.erase(s->Values.begin() + static_cast<std::ptrdiff_t>(it->second));
  s->Index.clear();
  for (size_t i = 0; i < s->Values.size(); ++i) s->Index.emplace(Fold(s->Values[i].first), i);
}

void TIniFile::Clear() {
  FSections.clear();
  FSectionIndex.clear();
}

// --- text ---

// Lines end at CR LF, LF or CR. Each is trimmed; empty lines and ";" comments are skipped;
// "[name]" opens a section (a repeated name continues the earlier one); lines before the first
// section are ignored; other lines split at the first "=" into a trimmed key and value (no "=":
// a key without value). A key repeated within a section keeps its first value, the one a
// lookup would have found.
void TIniFile::LoadFromText(std::string_view text) {
  Clear();
  TSection *current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1; // CR LF yields an empty line in between, which is skipped like any other

    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = &AddSection(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    if (!current) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
      SetValue(*current, line, {}, true);
    else
      SetValue(*current, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), true);
  }
}

std::string TIniFile::SaveToText() const {
  std::string out;
  for (const TSection &s : FSections) {
    out += '[';
    AppendFlat(out, s.Name);
    out += "]\r\n";
    for (const auto &[key, value] : s.Values) {
      AppendFlat(out, key);
      out += '=';
      AppendFlat(out, value);
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

// --- file ---

bool TIniFile::LoadFromFile(const std::string &fileName, std::string *error) {
  FFileName = fileName;
  Clear();
  FStamp = {};
  // The stamp is taken before reading: a change in between then shows up as a later reload
  // instead of being missed.
  const TFileStamp stamp = StatFile(fileName);
  std::string text;
  if (!ReadWholeFile(fileName, &text, error, Bounds)) return false;
  LoadFromText(FLegacyLines ? LegacyLinesToUtf8(text) : text);
  FStamp = stamp;
  return true;
}

bool TIniFile::ReloadIfChanged(std::string *error) {
  // A file that has gone away keeps the copy in memory: it is written back at the next update.
  const TFileStamp stamp = StatFile(FFileName);
  if (!stamp.Exists || stamp == FStamp) return false;
  std::string text;
  if (!ReadWholeFile(FFileName, &text, error, Bounds)) return false;
  LoadFromText(FLegacyLines ? LegacyLinesToUtf8(text) : text);
  FStamp = stamp;
  return true;
}

bool TIniFile::UpdateFile(std::string *error) {
  if (FFileName.empty()) {
    if (error) *error = "no file name";
    return false;
  }
  if (IsReadOnly()) {
    if (error) *error = FFileName + " is read-only";
    return false;
  }
  if (!WriteFileAtomically(FFileName, SaveToText(), error)) return false;
  FStamp = StatFile(FFileName);
  return true;
}
