// The Datei menu: project files, which hold the same stored settings as the settings file (meters,
// places, colours, port and speed), one per board or set-up; and the Hilfe page.
#include "app/window/FormMain.h"

#include <stdexcept>

#include <QFileDialog>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/cli/CommandLine.h"
#include "app/storage/FormStorage.h"
#include "platform/Version.h"

void TFormMain::ConfigureLike(TFormStorage &other, const std::string &propsPath) const {
  other.StoredPropsPath = propsPath;
  other.StoredProps = FormStorage1->StoredProps;
  other.ResolveProp = FormStorage1->ResolveProp;
  other.AfterRestore = FormStorage1->AfterRestore;
  other.AfterSave = FormStorage1->AfterSave;
}

bool TFormMain::SaveProject(const std::string &file, std::string *error) {
  TAppIniFileStorage storage;
  storage.FlushOnDestroy = false;
  storage.SetFileName(file);
  if (storage.IsReadOnly()) {
    if (error) *error = "Das Projekt lässt sich nicht speichern: " + file + " ist schreibgeschützt.";
    return false;
  }
  TFormStorage project(this, &storage);
  ConfigureLike(project, SettingsFolderText(file));
  storage.WriteValue(project.PlacementSection(), "FormVersion", EncodeInteger(project.Version));
  project.SaveStoredProps();
  std::string why;
  if (!storage.WriteFile(&why)) {
    if (error) *error = "Das Projekt " + file + " lässt sich nicht speichern: " + why;
    return false;
  }
  return true;
}

bool TFormMain::LoadProject(const std::string &file, std::string *error) {
  TAppIniFileStorage storage;
  storage.FlushOnDestroy = false;
  std::string why;
  if (!storage.Ini().LoadFromFile(file, &why)) {
    if (error) *error = "Das Projekt " + file + " lässt sich nicht lesen: " + why;
    return false;
  }
  // The properties' section carries the folder the file was saved in (or another machine's):
  // it is the "FormMain\…" section that holds stored keys, wherever the file lives now.
  std::string props;
  for (const std::string &section : storage.Ini().ReadSections()) {
    if (section.size() <= 9 || QString::fromStdString(section.substr(0, 9)).compare("FormMain\\", Qt::CaseInsensitive))
      continue;
    for (const std::string &entry : FormStorage1->StoredProps) {
      const size_t dot = entry.find('.');
      if (storage.Ini().ValueExists(section, entry.substr(0, dot) + "_" + entry.substr(dot + 1))) {
        props = section;
        break;
      }
    }
    if (!props.empty()) break;
  }
  if (props.empty()) {
    if (error)
      *error = file + " ist keine Einstellungsdatei von Telmora: Sie enthält keine gespeicherten Instrumente "
                      "oder Schnittstellen (keinen Abschnitt [FormMain\\…] mit Schlüsseln wie Instr1_Left oder "
                      "ComPort1_Port).";
    return false;
  }
  TFormStorage project(this, &storage);
  ConfigureLike(project, props.substr(9));
  project.RestoreStoredProps();
  // The background colours take effect as when the Show page is entered.
  TabSheetShowShow(this);
  return true;
}

std::string TFormMain::ChooseProjectFile(bool forSaving) {
  QFileDialog dialog(this, forSaving ? QStringLiteral("Projekt speichern unter") : QStringLiteral("Projekt laden"));
  dialog.setNameFilters({QStringLiteral("Telmora-Projekte (*.ini)"), QStringLiteral("Alle Dateien (*)")});
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!FLastProjectFolder.isEmpty()) dialog.setDirectory(FLastProjectFolder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  FLastProjectFolder = QFileInfo(dialog.selectedFiles().front()).absolutePath();
  return dialog.selectedFiles().front().toStdString();
}

void TFormMain::ProjektspeichernClick() {
  const std::string file = ChooseProjectFile(true);
  std::string error;
  if (!file.empty() && !SaveProject(file, &error)) throw std::runtime_error(error);
}

void TFormMain::ProjektladenClick() {
  const std::string file = ChooseProjectFile(false);
  std::string error;
  if (!file.empty() && !LoadProject(file, &error)) throw std::runtime_error(error);
}

namespace {

QString Html(const std::string &text) { return QString::fromStdString(text).toHtmlEscaped(); }

} // namespace

void TFormMain::BuildHilfePage() {
  auto *layout = new QVBoxLayout(TabSheetHilfe);
  TextHilfe = new QTextBrowser(TabSheetHilfe);
  TextHilfe->setObjectName(QStringLiteral("TextHilfe"));
  TextHilfe->setOpenLinks(false);
  const std::string settings = AppIniFileStorage1->FileName().empty() ? UserSettingsFile() : AppIniFileStorage1->FileName();
  QString html;
  html += QStringLiteral("<h2>Telmora</h2>"
                         "<p>Telmora zeigt Messwerte, die ein Mikrocontroller über eine serielle Schnittstelle "
                         "sendet, auf bis zu zehn analogen Zeigerinstrumenten an. Auf der Seite Terminal "
                         "ist der empfangene Datenstrom im Klartext zu sehen.</p>");
  html += QStringLiteral("<h3>Datenformat</h3>"
                         "<p>Jeder Messwert ist ein Datensatz: <b>#</b> Instrumentnummer (1 bis 10) <b>M</b> "
                         "Wert <b>&lt;</b>, zum Beispiel <tt>#8M25.5&lt;#2M1.34564&lt;</tt>. Als "
                         "Dezimaltrennzeichen gehen Punkt und Komma. Ein Arduino sendet einen Wert so:</p>"
                         "<pre>Serial.print(\"#1M\"); Serial.print(wert); Serial.print(\"&lt;\");</pre>");
  html += QStringLiteral("<h3>In drei Schritten zu den eigenen Werten</h3><ol>"
                         "<li><b>Schnittstelle</b>: Com Port und Baud Rate wählen (fest: 8 Datenbits, 1 Stoppbit, "
                         "keine Parität, keine Flusskontrolle).</li>"
                         "<li><b>Instrumente</b>: Häkchen bei den gewünschten Instrumenten setzen und "
                         "„Instrumenten Status zuweisen“ klicken. Dort lassen sich auch Name, Bereich, Einheit, "
                         "Größe, Farben und Skala einstellen.</li>"
                         "<li><b>Show</b> → „Connect Schnittstelle“ (oder „Connect“ auf der Seite Schnittstelle). "
                         "Die Instrumente lassen sich mit der Maus verschieben.</li></ol>");
  html += QStringLiteral("<h3>Einstellungen</h3><p>Alle Einstellungen werden beim Beenden gespeichert und beim "
                         "nächsten Start wiederhergestellt:<br><tt>%1</tt><br>Unter Datei lassen sie sich "
                         "als Projekt speichern und wieder laden.</p>")
              .arg(Html(settings));
  html += QStringLiteral("<h3>Kommandozeile</h3><pre>%1</pre>").arg(Html(UsageText("telmora", TWording::German)));
  html += QStringLiteral("<p>Version %1</p>").arg(QStringLiteral(TELMORA_VERSION));
  TextHilfe->setHtml(html);
  layout->addWidget(TextHilfe);
}
