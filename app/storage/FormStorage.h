#pragma once
// The settings file: TAppIniFileStorage keeps an in-memory copy of the INI file and writes it back
// at the end of the run; TFormStorage decides what is stored (window placement and a list of
// component properties) and when (restore on show, save on close).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QRect>

#include "app/storage/StoredProps.h"
#include "platform/FormatSettings.h"
#include "platform/IniFile.h"

class QWidget;

// The running user's settings file: $XDG_CONFIG_HOME/Telmora/Telmora.ini, or
// ~/.config/Telmora/Telmora.ini when that variable is unset or not an absolute path.
std::string UserSettingsFile();
// The folder text of a settings file, ending in "/" (it also forms the stored properties' section
// prefix); a relative file name is taken from the current folder.
std::string SettingsFolderText(const std::string &fileName);

class TAppIniFileStorage : public QObject {
  Q_OBJECT
public:
  explicit TAppIniFileStorage(QObject *parent = nullptr);
  // Writes the copy when it holds changes that are not in the file yet (FlushOnDestroy).
  ~TAppIniFileStorage() override;

  const std::string &FileName() const { return FIni.FileName(); }
  void SetFileName(const std::string &name) { FIni.SetFileName(name); }
  bool AutoReload = true;
  bool FlushOnDestroy = true;

  // Fills the copy from the file when it exists. A file that exists but cannot be read (no
  // permission, a folder, a device, a line beyond the bounds) is never written in this run, so
  // nothing the user stored in it is lost; OnReadError is told, once.
  void Load();
  // With AutoReload: replaces the copy by the file when the file changed since it was last read.
  // A file that can no longer be read is kept as it is from then on, as at Load.
  void ReloadIfNeeded();
  // Why the file cannot be read (the system's reason); "" while it can be (or does not exist).
  const std::string &ReadError() const { return FReadError; }
  // The sentence that reports it, with what it means for the run: English on stderr, German in
  // the window.
  std::string ReadFailure(TWording wording) const;
  std::function<void()> OnReadError;
  bool IsReadOnly() const { return !FileName().empty() && FIni.IsReadOnly(); }

  bool SectionExists(const std::string &section) const { return FIni.SectionExists(section); }
  std::optional<std::string> ReadValue(const std::string &section, const std::string &key) const;
  void WriteValue(const std::string &section, const std::string &key, const std::string &value);

  // Writes the copy to the file, creating its folder first. Nothing happens without a file name,
  // while the file is read-only or after it could not be read; false with *why (the system's
  // reason) when the write failed.
  bool WriteFile(std::string *why = nullptr);
  // The sentence a failed WriteFile is reported with: English on stderr, German in the window.
  std::string WriteFailure(const std::string &why, TWording wording) const;
  // Changes in the copy that the file does not hold yet.
  bool Dirty() const { return FDirty; }
  // Told when the write at destruction fails (nobody else could hear of it then).
  std::function<void(const std::string &message)> OnWriteError;

  TIniFile &Ini() { return FIni; }

private:
  void SetReadError(const std::string &why, bool atLoad);

  TIniFile FIni;
  bool FDirty = false;
  std::string FReadError;
  bool FReadErrorAtLoad = false;
};

// The window's show states as the settings file numbers them.
enum TShowCmd { scNormal = 1, scMinimized = 2, scMaximized = 3 };

// What the stored placement asks of the window, worked out from its texts and the screens.
struct TPlacementDecision {
  bool ApplyRect = false;
  QRect Rect; // outer frame in screen pixels
  TShowCmd Show = scNormal;
};
// "%d,%d,%d,%d" into four numbers; a missing or malformed field counts 0.
void ParseFourFields(const std::string &text, int out[4]);
// The rectangle is applied only when one of the texts was found, the density is the current one,
// left < right and both the top-left corner and (right-1, bottom-1) lie on a connected screen.
TPlacementDecision DecidePlacement(const std::optional<std::string> &minMaxText,
                                   const std::optional<std::string> &normText, int storedDpi, int currentDpi,
                                   int showCmd, const std::function<bool(int x, int y)> &onScreen);

class TFormStorage : public QObject {
  Q_OBJECT
public:
  TFormStorage(QWidget *form, TAppIniFileStorage *storage, QObject *parent = nullptr);

  std::string AppStoragePath = "FormMain\\";
  std::string StoredPropsPath;
  // Entries "Component.Property", in the order they are stored.
  std::vector<std::string> StoredProps;
  int Version = 0;
  // Lists property `property` of component `component`; false when there is no such property.
  std::function<bool(const std::string &component, const std::string &property, TPropList &list)> ResolveProp;
  // Told when the stored rectangle is applied (the window then stops centring itself), with the
  // outer rectangle.
  std::function<void(const QRect &outer)> OnApplyRect;
  // The window's normal (not maximized, not minimized) rectangle, outer frame in screen pixels;
  // without it the frame geometry stands in (right only in the normal state).
  std::function<QRect()> NormalOuterRect;
  // Told once per restore of placement values that could not be read (one line each).
  std::function<void(const std::string &message)> OnBadPlacement;
  // Extra steps after the listed properties were restored or saved, told the storage that did it.
  std::function<void(TFormStorage &)> AfterRestore;
  std::function<void(TFormStorage &)> AfterSave;

  // Reads placement and stored properties and applies them (once per run, on show).
  void Restore();
  // Writes placement and stored properties into the copy (on close).
  void Save();
  // Only the listed properties, without placement or version: a project file's content.
  void RestoreStoredProps();
  void SaveStoredProps();
  // Whether the copy holds anything (a key or an object's section) of a listed entry whose
  // component name begins with `component`.
  bool HoldsStoredProps(const std::string &component) const;
  bool Restored() const { return FRestored; }
  bool Saved() const { return FSaved; }

  // Settings outside the stored-properties list, in a section of their own below P (written
  // after the listed ones, so those stay as they are): each property one key. Restoring reads the
  // keys that exist; a value that does not convert leaves its property as it was. False when the
  // section does not exist.
  void SaveSection(const std::string &name, const TDescribe &describe);
  bool RestoreSection(const std::string &name, const TDescribe &describe);

  // "FormMain", and P: the section of the stored properties.
  std::string PlacementSection() const;
  std::string PropsSection() const;
  // Key suffix "(WxH)" of the desktop's size.
  static std::string DesktopSuffix();

  TAppIniFileStorage *Storage() const { return FStorage; }

private:
  // Calls f with the key and the listed property of every entry that resolves.
  void ForEachStoredProp(const std::function<void(const std::string &key, const TStoredProperty &)> &f);
  std::optional<int> ReadPlacementInt(const char *key, std::vector<std::string> &problems);
  void RestorePlacement(std::vector<std::string> &problems);
  void SavePlacement();
  void ReadProp(const std::string &section, const std::string &key, const TStoredProperty &prop);
  void WriteProp(const std::string &section, const std::string &key, const TStoredProperty &prop);

  QWidget *FForm = nullptr;
  TAppIniFileStorage *FStorage = nullptr;
  bool FRestored = false;
  bool FSaved = false;
};
