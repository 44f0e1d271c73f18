#include "app/storage/FormStorage.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

std::string UserSettingsFile() {
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char *home = std::getenv("HOME");
    base = std::string(home && *home ? home : QDir::homePath().toStdString()) + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/Telmora/Telmora.ini";
}

std::string SettingsFolderText(const std::string &fileName) {
  std::string folder = QFileInfo(QString::fromStdString(fileName)).absolutePath().toStdString();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// --- the file -----------------------------------------------------------------------------------

TAppIniFileStorage::TAppIniFileStorage(QObject *parent) : QObject(parent) {
  FIni.SetLegacyLinesAsCp1252(true);
}

TAppIniFileStorage::~TAppIniFileStorage() {
  if (!FlushOnDestroy || !FDirty) return;
  std::string why;
  if (!WriteFile(&why) && OnWriteError) OnWriteError(WriteFailure(why, TWording::English));
}

void TAppIniFileStorage::Load() {
  if (FileName().empty()) return;
  // Only a file that is not there is a first start; one that cannot even be looked at (a folder
  // without permission on the way) is a file that cannot be read.
  std::error_code ec;
  if (std::filesystem::status(FileName(), ec).type() == std::filesystem::file_type::not_found) return;
  std::string why;
  if (!FIni.LoadFromFile(FileName(), &why)) SetReadError(why, true);
  FDirty = false;
}

void TAppIniFileStorage::ReloadIfNeeded() {
  if (!AutoReload || FileName().empty() || !FReadError.empty()) return;
  std::string why;
  if (FIni.ReloadIfChanged(&why))
    FDirty = false;
  else if (!why.empty())
    SetReadError(why, false);
}

void TAppIniFileStorage::SetReadError(const std::string &why, bool atLoad) {
  if (!FReadError.empty()) return;
  FReadError = why;
  FReadErrorAtLoad = atLoad;
  if (OnReadError) OnReadError();
}

std::string TAppIniFileStorage::ReadFailure(TWording wording) const {
  if (wording == TWording::German)
    return (FReadErrorAtLoad ? "Die Einstellungsdatei lässt sich nicht lesen: "
                             : "Die Einstellungsdatei lässt sich nicht mehr lesen: ") +
           FReadError + ".\n" +
           (FReadErrorAtLoad ? "Das Fenster beginnt mit der Anordnung eines ersten Starts; die Änderungen dieses "
                               "Laufs an den Einstellungen bleiben nicht erhalten, die Datei bleibt, wie sie ist."
                             : "Die Änderungen dieses Laufs an den Einstellungen bleiben nicht erhalten, die Datei "
                               "bleibt, wie sie ist.");
  return (FReadErrorAtLoad ? "Telmora cannot read its settings file: " : "Telmora cannot read its settings file any more: ") +
         FReadError + ".\n" +
         (FReadErrorAtLoad ? "The window starts with its first-start layout; this run's changes to the settings are not "
                             "kept, and the file is left as it is."
                           : "This run's changes to the settings are not kept, and the file is left as it is.");
}

std::optional<std::string> TAppIniFileStorage::ReadValue(const std::string &section, const std::string &key) const {
  if (!FIni.ValueExists(section, key)) return std::nullopt;
  return FIni.ReadString(section, key, {});
}

void TAppIniFileStorage::WriteValue(const std::string &section, const std::string &key, const std::string &value) {
  FIni.WriteString(section, key, value);
  FDirty = true;
}

bool TAppIniFileStorage::WriteFile(std::string *why) {
  if (FileName().empty() || IsReadOnly() || !FReadError.empty()) return true;
  if (!FIni.UpdateFile(why)) return false;
  FDirty = false;
  return true;
}

std::string TAppIniFileStorage::WriteFailure(const std::string &why, TWording wording) const {
  if (wording == TWording::German) return "Die Einstellungsdatei " + FileName() + " lässt sich nicht schreiben: " + why;
  return "Cannot write the settings file " + FileName() + ": " + why;
}

// --- placement decisions ------------------------------------------------------------------------

void ParseFourFields(const std::string &text, int out[4]) {
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = rest.find(',');
    int32_t n = 0;
    out[i] = TIniFile::ParseInteger(rest.substr(0, comma), n) ? n : 0;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
}

TPlacementDecision DecidePlacement(const std::optional<std::string> &minMaxText,
                                   const std::optional<std::string> &normText, int storedDpi, int currentDpi,
                                   int showCmd, const std::function<bool(int x, int y)> &onScreen) {
  TPlacementDecision d;
  int f[4] = {0, 0, 0, 0};
  if (normText) ParseFourFields(*normText, f);
  // left < right keeps right - 1 in range; bottom - 1 is checked before it is formed.
  if ((minMaxText || normText) && storedDpi == currentDpi && f[0] < f[2] && f[3] > INT32_MIN &&
      onScreen(f[0], f[1]) && onScreen(f[2] - 1, f[3] - 1)) {
    d.ApplyRect = true;
    d.Rect = QRect(QPoint(f[0], f[1]), QPoint(f[2] - 1, f[3] - 1));
  }
  switch (showCmd) {
  case 2: case 6: case 7: d.Show = scMinimized; break;
  case 3: d.Show = scMaximized; break;
  default: d.Show = scNormal; break;
  }
  return d;
}

// --- the form storage ---------------------------------------------------------------------------

namespace {

int CurrentDpi(const QWidget *form) {
  const QScreen *s = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
  return s ? static_cast<int>(std::lround(s->logicalDotsPerInch())) : 96;
}

int CurrentShowCmd(const QWidget *form) {
  if (form->isMinimized() || QGuiApplication::applicationState() == Qt::ApplicationHidden) return scMinimized;
  if (form->isMaximized()) return scMaximized;
  return scNormal;
}

std::string FourFields(int a, int b, int c, int d) {
  return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
}

} // namespace

TFormStorage::TFormStorage(QWidget *form, TAppIniFileStorage *storage, QObject *parent)
    : QObject(parent), FForm(form), FStorage(storage) {}

std::string TFormStorage::PlacementSection() const { return JoinStorePath(AppStoragePath, ""); }

std::string TFormStorage::PropsSection() const { return JoinStorePath(AppStoragePath, StoredPropsPath); }

std::string TFormStorage::DesktopSuffix() {
  const QScreen *s = QGuiApplication::primaryScreen();
  const QSize size = s ? s->geometry().size() : QSize(0, 0);
  return "(" + std::to_string(size.width()) + "x" + std::to_string(size.height()) + ")";
}

std::optional<int> TFormStorage::ReadPlacementInt(const char *key, std::vector<std::string> &problems) {
  const auto text = FStorage->ReadValue(PlacementSection(), key);
  if (!text) return std::nullopt;
  try {
    return DecodeInteger(*text);
  } catch (const EStoredValue &) {
    // A bad placement number once stopped the whole restore, and so every later start as well:
    // it is reported (in the window, so in German) and counts as missing instead.
    problems.push_back("„" + *text + "“ ist keine ganze Zahl (" + PlacementSection() + "\\" + key + ")");
    return std::nullopt;
  }
}

void TFormStorage::Restore() {
  FStorage->ReloadIfNeeded();
  std::vector<std::string> problems;
  const int version = ReadPlacementInt("FormVersion", problems).value_or(0);
  if (version >= Version) {
    RestorePlacement(problems);
    RestoreStoredProps();
  }
  FRestored = true;
  if (!problems.empty() && OnBadPlacement) {
    std::string message = "Die Einstellungsdatei " + FStorage->FileName() + " enthält Werte, die sich nicht lesen lassen:";
    for (const std::string &p : problems) message += "\n" + p;
    message += "\nSie werden übergangen und beim Beenden von Telmora neu geschrieben.";
    OnBadPlacement(message);
  }
}

void TFormStorage::ForEachStoredProp(const std::function<void(const std::string &key, const TStoredProperty &)> &f) {
  for (const std::string &entry : StoredProps) {
    const size_t dot = entry.find('.');
    TPropList list;
    if (dot == std::string::npos || !ResolveProp || !ResolveProp(entry.substr(0, dot), entry.substr(dot + 1), list) ||
        list.Props.empty())
      continue;
    f(entry.substr(0, dot) + "_" + entry.substr(dot + 1), list.Props.front());
  }
}

bool TFormStorage::HoldsStoredProps(const std::string &component) const {
  const std::string p = PropsSection();
  for (const std::string &entry : StoredProps) {
    const size_t dot = entry.find('.');
    if (dot == std::string::npos || entry.compare(0, component.size(), component) != 0) continue;
    const std::string key = entry.substr(0, dot) + "_" + entry.substr(dot + 1);
    if (FStorage->ReadValue(p, key) || FStorage->SectionExists(JoinStorePath(p, key))) return true;
  }
  return false;
}

void TFormStorage::RestoreStoredProps() {
  const std::string p = PropsSection();
  ForEachStoredProp([&](const std::string &key, const TStoredProperty &prop) {
    try {
      ReadProp(p, key, prop);
    } catch (const EStoredValue &) {
      // What was read before the bad value stays applied; the next listed property follows.
    }
  });
  if (AfterRestore) AfterRestore(*this);
}

void TFormStorage::RestorePlacement(std::vector<std::string> &problems) {
  const std::string s = PlacementSection();
  ReadPlacementInt("Flags", problems); // no placement flag means anything here
  const std::string suffix = DesktopSuffix();
  auto either = [&](const std::string &key) {
    auto v = FStorage->ReadValue(s, key + suffix);
    return v ? v : FStorage->ReadValue(s, key);
  };
  const auto minMax = either("MinMaxPos");
  const auto norm = either("NormPos");
  const int dpi = CurrentDpi(FForm);
  const int storedDpi = ReadPlacementInt("PixelsPerInch", problems).value_or(dpi);
  const int showCmd = ReadPlacementInt("ShowCmd", problems).value_or(CurrentShowCmd(FForm));
  const TPlacementDecision d = DecidePlacement(minMax, norm, storedDpi, dpi, showCmd, [](int x, int y) {
    return QGuiApplication::screenAt(QPoint(x, y)) != nullptr;
  });
  if (d.ApplyRect && OnApplyRect) OnApplyRect(d.Rect);
  switch (d.Show) {
  case scMaximized:
    FForm->setWindowState(Qt::WindowMaximized);
    break;
  case scMinimized: {
    // Shown normal first; the minimize request follows once the window is up.
    FForm->setWindowState(Qt::WindowNoState);
    QWidget *form = FForm;
    QMetaObject::invokeMethod(form, [form] { form->showMinimized(); }, Qt::QueuedConnection);
    break;
  }
  default:
    FForm->setWindowState(Qt::WindowNoState);
    break;
  }
}

void TFormStorage::Save() {
  FStorage->ReloadIfNeeded();
  FSaved = true;
  // A read-only file is the user's choice: nothing of this run goes into it.
  if (FStorage->IsReadOnly()) return;
  FStorage->WriteValue(PlacementSection(), "FormVersion", EncodeInteger(Version));
  if (!FRestored) return;
  SavePlacement();
  SaveStoredProps();
}

void TFormStorage::SaveStoredProps() {
  const std::string p = PropsSection();
  ForEachStoredProp([&](const std::string &key, const TStoredProperty &prop) { WriteProp(p, key, prop); });
  if (AfterSave) AfterSave(*this);
}

void TFormStorage::SaveSection(const std::string &name, const TDescribe &describe) {
  const std::string section = JoinStorePath(PropsSection(), name);
  TPropList list;
  describe(list);
  for (const TStoredProperty &prop : list.Props) WriteProp(section, prop.Name, prop);
}

bool TFormStorage::RestoreSection(const std::string &name, const TDescribe &describe) {
  const std::string section = JoinStorePath(PropsSection(), name);
  if (!FStorage->SectionExists(section)) return false;
  TPropList list;
  describe(list);
  for (const TStoredProperty &prop : list.Props) {
    try {
      ReadProp(section, prop.Name, prop);
    } catch (const EStoredValue &) {
    }
  }
  for (const auto &f : list.Finish) f();
  return true;
}

void TFormStorage::SavePlacement() {
  const std::string s = PlacementSection();
  FStorage->WriteValue(s, "ShowCmd", EncodeInteger(CurrentShowCmd(FForm)));
  FStorage->WriteValue(s, "Flags", "0");
  FStorage->WriteValue(s, "PixelsPerInch", EncodeInteger(CurrentDpi(FForm)));
  // This platform has no icon position of a minimized window nor a maximized position of its
  // own: the fields say "none", as an unused position does.
  const std::string minMax = FourFields(-1, -1, -1, -1);
  const QRect normal = NormalOuterRect ? NormalOuterRect() : FForm->frameGeometry();
  const std::string norm =
      FourFields(normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height());
  const std::string suffix = DesktopSuffix();
  FStorage->WriteValue(s, "MinMaxPos" + suffix, minMax);
  FStorage->WriteValue(s, "MinMaxPos", minMax);
  FStorage->WriteValue(s, "NormPos" + suffix, norm);
  FStorage->WriteValue(s, "NormPos", norm);
}

void TFormStorage::ReadProp(const std::string &section, const std::string &key, const TStoredProperty &prop) {
  switch (prop.Kind) {
  case TStoredProperty::Value:
    if (const auto text = FStorage->ReadValue(section, key)) prop.Read(*text);
    break;
  case TStoredProperty::Object: {
    const std::string sub = JoinStorePath(section, key);
    if (!FStorage->SectionExists(sub)) break;
    TPropList children;
    prop.Children(children);
    const auto finish = [&children] {
      for (const auto &f : children.Finish) f();
    };
    try {
      for (const TStoredProperty &child : children.Props) ReadProp(sub, child.Name, child);
    } catch (const EStoredValue &) {
      finish(); // what was read before the bad value is applied, as single values are
      throw;
    }
    finish();
    break;
  }
  case TStoredProperty::Set: {
    const std::string sub = JoinStorePath(section, key);
    if (!FStorage->SectionExists(sub)) break;
    std::uint32_t bits = 0;
    for (size_t i = 0; i < prop.Elements.size(); ++i) {
      const auto text = FStorage->ReadValue(sub, prop.Elements[i]);
      if (text && DecodeBoolean(*text)) bits |= 1u << i;
    }
    prop.SetBits(bits);
    break;
  }
  }
}

void TFormStorage::WriteProp(const std::string &section, const std::string &key, const TStoredProperty &prop) {
  switch (prop.Kind) {
  case TStoredProperty::Value:
    FStorage->WriteValue(section, key, prop.Write());
    break;
  case TStoredProperty::Object: {
    const std::string sub = JoinStorePath(section, key);
    TPropList children;
    prop.Children(children);
    for (const TStoredProperty &child : children.Props) WriteProp(sub, child.Name, child);
    break;
  }
  case TStoredProperty::Set: {
    const std::string sub = JoinStorePath(section, key);
    const std::uint32_t bits = prop.GetBits();
    for (size_t i = 0; i < prop.Elements.size(); ++i)
      FStorage->WriteValue(sub, prop.Elements[i], EncodeBoolean((bits >> i) & 1u));
    break;
  }
  }
}
