// The Datei menu's recording: every record the meters take goes into a CSV file, written on a
// thread of its own; a failing disk ends the recording with a message, never the ingest.
#include "app/window/FormMain.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QTimer>

#include <stdexcept>

#include "app/records/Recorder.h"
#include "platform/FormatSettings.h"

bool TFormMain::StartRecording(const std::string &file, bool raw, std::string *error, TWording wording) {
  StopRecording();
  auto recorder = std::make_unique<TRecorder>();
  if (!recorder->Start(file, raw, FormatSettings(), error, wording)) return false;
  FRecorder = std::move(recorder);
  if (!FRecordingTimer) {
    FRecordingTimer = new QTimer(this);
    FRecordingTimer->setObjectName(QStringLiteral("RecordingTimer"));
    // Twice a second: slow streams reach the file, and a failed writer is noticed.
    FRecordingTimer->setInterval(500);
    connect(FRecordingTimer, &QTimer::timeout, this, &TFormMain::RecordingTick);
  }
  FRecordingTimer->start();
  Aufzeichnungbeenden1->setEnabled(true);
  UpdateStatusLine();
  return true;
}

void TFormMain::StopRecording() {
  if (!FRecorder) return;
  FRecorder->RequestStop();
  FClosingRecorders.push_back(std::move(FRecorder));
  Aufzeichnungbeenden1->setEnabled(false);
  UpdateStatusLine();
}

void TFormMain::RecordingTick() {
  if (FRecorder) {
    FRecorder->Publish();
    if (FRecorder->Failed()) StopRecording();
  }
  std::vector<std::string> messages;
  for (auto it = FClosingRecorders.begin(); it != FClosingRecorders.end();) {
    TRecorder &r = **it;
    if (!r.Finished()) {
      ++it;
      continue;
    }
    if (r.Failed()) messages.push_back(r.Error());
    if (r.Lost() > 0)
      messages.push_back("In der Aufzeichnung " + r.File() + " fehlen " + std::to_string(r.Lost()) +
                         " Datensätze: Der Datenträger kam nicht mit.");
    it = FClosingRecorders.erase(it);
  }
  if (!FRecorder && FClosingRecorders.empty()) FRecordingTimer->stop();
  // Shown last: a message box runs the event loop, and with it this tick again.
  for (const std::string &m : messages) ShowExceptionMessage(m);
}

void TFormMain::SetReplayStatus(const std::string &text) {
  if (text == FReplayStatus) return;
  FReplayStatus = text;
  UpdateStatusLine();
}

bool TFormMain::ChooseRecordingFile(std::string &file, bool &raw) {
  QFileDialog dialog(this, QStringLiteral("Aufzeichnung starten"));
  // The check box needs the dialog's own layout, which a desktop's dialog does not offer.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters({QStringLiteral("CSV-Dateien (*.csv)"), QStringLiteral("Alle Dateien (*)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!FLastProjectFolder.isEmpty()) dialog.setDirectory(FLastProjectFolder);
  auto *box = new QCheckBox(QStringLiteral("Verworfene Datensätze mit Grund aufzeichnen"), &dialog);
  box->setObjectName(QStringLiteral("CheckBoxRohdaten"));
  box->setChecked(raw);
  if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) grid->addWidget(box, grid->rowCount(), 0, 1, -1);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  file = dialog.selectedFiles().front().toStdString();
  FLastProjectFolder = QFileInfo(dialog.selectedFiles().front()).absolutePath();
  raw = box->isChecked();
  return true;
}

void TFormMain::AufzeichnungstartenClick() {
  std::string file;
  bool raw = false;
  if (!ChooseRecordingFile(file, raw)) return;
  std::string error;
  if (!StartRecording(file, raw, &error, TWording::German)) throw std::runtime_error(error);
}
