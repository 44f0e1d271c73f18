// The settings file of the window: what is stored, the restore on show and the save on close, and
// the Show page's hint while no meter is switched on.
#include "app/window/FormMain.h"

#include <iostream>

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>

#include "app/window/ColorBox.h"
#include "app/storage/FormStorage.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "serial/ComControls.h"

namespace {

const char *const MeterStoredProps[] = {"BevelInner",     "Height",         "Left", "LogScale", "Options", "ScaleSettings",
                                        "SectorSettings", "SignalSettings", "Top",  "Visible",  "Width"};

const TEnumNames BaudRateNames = {"brCustom", "br110",   "br300",   "br600",    "br1200",   "br2400",
                                  "br4800",   "br9600",  "br14400", "br19200",  "br38400",  "br56000",
                                  "br57600",  "br115200", "br128000", "br256000"};
const TEnumNames ComPropertyNames = {"cpNone",   "cpPort",   "cpBaudRate",   "cpDataBits",
                                     "cpStopBits", "cpParity", "cpFlowControl"};

QString NoMeterHintText() {
  return QStringLiteral("Keine Instrumente eingeschaltet: unter \u201EInstrumente\u201C ein Häkchen setzen und "
                        "\u201EInstrumenten Status zuweisen\u201C klicken.");
}

} // namespace

std::vector<std::string> FormMainStoredProps() {
  std::vector<std::string> list = {"ColorBoxShowFarbeVon.Selected", "ColorBoxShowFarbeNach.Selected"};
  auto add = [&list](int n, const char *prop) { list.push_back("Instr" + std::to_string(n) + "." + prop); };
  for (int n = 1; n <= 10; ++n) {
    for (const char *prop : MeterStoredProps) {
      // The list has always run this way at meters 5 and 6; files written so far follow it.
      if (n == 6 && std::string(prop) == "BevelInner") continue;
      if (n == 5 && std::string(prop) == "Width") add(6, "BevelInner");
      add(n, prop);
    }
  }
  for (int n = 1; n <= 10; ++n) list.push_back("CheckBox" + std::to_string(n) + ".Checked");
  for (const char *e : {"ComPort1.Port", "ComPort1.BaudRate", "ComComboBox1.ComProperty", "ComComboBox2.ComProperty"})
    list.push_back(e);
  return list;
}

void TFormMain::BuildSettingsStorage(const std::string &fileName) {
  AppIniFileStorage1 = new TAppIniFileStorage(this);
  AppIniFileStorage1->setObjectName(QStringLiteral("AppIniFileStorage1"));
  AppIniFileStorage1->SetFileName(fileName);
  AppIniFileStorage1->OnWriteError = [](const std::string &message) { std::cerr << "telmora: " << message << "\n"; };
  AppIniFileStorage1->OnReadError = [this] {
    std::cerr << "telmora: " << AppIniFileStorage1->ReadFailure(TWording::English) << "\n";
    // A run already closing has said it on stderr; at the start it shows once the window is up.
    const auto show = [message = AppIniFileStorage1->ReadFailure(TWording::German)] {
      if (!ShuttingDown()) ShowExceptionMessage(message);
    };
    if (FormStorage1->Restored())
      show();
    else
      QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
  };
  FormStorage1 = new TFormStorage(this, AppIniFileStorage1, this);
  FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
  FormStorage1->StoredPropsPath = fileName.empty() ? std::string() : SettingsFolderText(fileName);
  FormStorage1->StoredProps = FormMainStoredProps();
  FormStorage1->ResolveProp = [this](const std::string &c, const std::string &p, TPropList &l) {
    return ResolveStoredProp(c, p, l);
  };
  FormStorage1->OnApplyRect = [this](const QRect &outer) { SetOuterGeometry(outer); };
  FormStorage1->NormalOuterRect = [this] { return NormalOuterGeometry(); };
  FormStorage1->OnBadPlacement = [](const std::string &message) {
    // Shown once the window is up, not from inside its show event.
    QMetaObject::invokeMethod(qApp, [message] { ShowExceptionMessage(message); }, Qt::QueuedConnection);
  };
  FormStorage1->AfterRestore = [this](TFormStorage &storage) { AfterStoredPropsRestored(storage); };
  FormStorage1->AfterSave = [this](TFormStorage &storage) { AfterStoredPropsSaved(storage); };
  // The window has been created: the file is read into memory now, applied when it shows. Where it
  // holds no meter at all (a first start, an empty or unreadable file, one of other keys only) the
  // meters get a size that shows their scale; stored values, where there are any, win.
  AppIniFileStorage1->Load();
  if (!fileName.empty() && !FormStorage1->HoldsStoredProps("Instr")) ApplyFirstStartLayout();
}

// The selection boxes show what the port was given; a speed without a name of its own is kept
// beside it, so that a custom rate survives a restart.
void TFormMain::AfterStoredPropsRestored(TFormStorage &storage) {
  if (ComPort1->BaudRate() == brCustom) {
    if (const auto text = storage.Storage()->ReadValue(storage.PropsSection(), "ComPort1_CustomBaudRate")) {
      try {
        ComPort1->SetCustomBaudRate(DecodeInteger(*text));
      } catch (const EStoredValue &) {
      }
    }
  }
  RestoreReconnectSetting(storage);
  RestoreTrendSettings(storage);
  UsePort({}, 0);
  RestoreBrokerSettings(storage);
  UpdateNoMeterHint();
}

void TFormMain::AfterStoredPropsSaved(TFormStorage &storage) {
  if (ComPort1->BaudRate() == brCustom)
    storage.Storage()->WriteValue(storage.PropsSection(), "ComPort1_CustomBaudRate",
                                  EncodeInteger(ComPort1->CustomBaudRate()));
  SaveReconnectSetting(storage);
  SaveTrendSettings(storage);
  SaveBrokerSettings(storage);
}

void TFormMain::ApplyFirstStartLayout() {
  // Two rows of five, each meter tall enough for its scale, pointer and value.
  for (int i = 1; i <= 10; ++i)
    if (auto *m = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i)))
      m->SetBounds(13 + (i - 1) % 5 * 132, 8 + (i - 1) / 5 * 318, 116, 306);
}

bool TFormMain::ResolveStoredProp(const std::string &component, const std::string &property, TPropList &list) {
  const QString name = QString::fromStdString(component);
  if (component.rfind("Instr", 0) == 0) {
    auto *m = FindComponent<TAnVMeter>(name);
    return m && DescribeMeterProperty(*m, property, list);
  }
  if (component.rfind("CheckBox", 0) == 0 && property == "Checked") {
    auto *box = FindComponent<QCheckBox>(name);
    if (!box) return false;
    list.Boolean("Checked", [box] { return box->isChecked(); }, [box](bool v) { box->setChecked(v); });
    return true;
  }
  if (component.rfind("ColorBox", 0) == 0 && property == "Selected") {
    auto *box = FindComponent<TColorBox>(name);
    if (!box) return false;
    list.Color("Selected", [box] { return box->Selected(); }, [box](TColor c) { box->SetSelected(c); });
    return true;
  }
  if (component == "ComPort1" && property == "Port") {
    list.Text("Port", [this] { return ComPort1->Port(); }, [this](const std::string &v) { ComPort1->SetPort(v); });
    return true;
  }
  if (component == "ComPort1" && property == "BaudRate") {
    list.Enumeration("BaudRate", BaudRateNames, [this] { return int(ComPort1->BaudRate()); },
                     [this](int v) { ComPort1->SetBaudRate(TBaudRate(v)); });
    return true;
  }
  if (component.rfind("ComComboBox", 0) == 0 && property == "ComProperty") {
    auto *box = FindComponent<TComComboBox>(name);
    if (!box) return false;
    list.Enumeration("ComProperty", ComPropertyNames, [box] { return int(box->ComProperty()); },
                     [box](int v) { box->SetComProperty(TComProperty(v)); });
    return true;
  }
  return false;
}

void TFormMain::closeEvent(QCloseEvent *event) {
  QMainWindow::closeEvent(event);
  if (!event->isAccepted()) return;
  FormStorage1->Save();
  // Written now rather than when the storage goes, so that a failure is still seen while the
  // window is up; a run that keeps its hands off the file (a replay) has switched the write off.
  std::string why;
  if (AppIniFileStorage1->FlushOnDestroy && !AppIniFileStorage1->WriteFile(&why)) {
    std::cerr << "telmora: " << AppIniFileStorage1->WriteFailure(why, TWording::English) << "\n";
    AppIniFileStorage1->FlushOnDestroy = false; // said once is enough
    ShowExceptionMessage(AppIniFileStorage1->WriteFailure(why, TWording::German) +
                         "\nDie Einstellungen dieses Laufs bleiben nicht erhalten.");
  }
}

void TFormMain::SaveSettingsOnDestroy() {
  if (FormStorage1 && !FormStorage1->Saved()) FormStorage1->Save();
}

void TFormMain::BuildNoMeterHint() {
  LabelKeineInstrumente = new QLabel(NoMeterHintText(), TabSheetShow);
  LabelKeineInstrumente->setObjectName(QStringLiteral("LabelKeineInstrumente"));
  QFont f = LabelKeineInstrumente->font();
  f.setBold(true);
  LabelKeineInstrumente->setFont(f);
  LabelKeineInstrumente->setStyleSheet(QStringLiteral("QLabel { padding: 4px 8px; background: rgba(255,255,225,220); "
                                                      "border: 1px solid #808080; }"));
  LabelKeineInstrumente->adjustSize();
  LabelKeineInstrumente->move(16, 16);
  for (int n = 1; n <= 10; ++n)
    if (auto *m = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n))) m->installEventFilter(this);
  UpdateNoMeterHint();
}

void TFormMain::UpdateNoMeterHint() {
  if (!LabelKeineInstrumente) return;
  bool any = false;
  for (int n = 1; n <= 10 && !any; ++n)
    if (auto *m = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n))) any = m->Visible();
  LabelKeineInstrumente->setVisible(!any);
  if (!any) {
    LabelKeineInstrumente->raise();
    // A chart shown without meters stays readable: the hint goes under it.
    for (int n = 1; n <= 4; ++n)
      if (QWidget *chart = Trend(n); chart && !chart->isHidden()) chart->raise();
  }
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event) {
  // A meter switched on or off explicitly (not with its page).
  if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
    if (qobject_cast<TAnVMeter *>(watched)) UpdateNoMeterHint();
  return QMainWindow::eventFilter(watched, event);
}
