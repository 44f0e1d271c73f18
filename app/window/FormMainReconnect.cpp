// Reopening ComPort1 when its device comes back: the lamps while waiting, the Optionen check box
// that switches it off, and its setting.
#include "app/window/FormMain.h"
#include "app/storage/FormStorage.h"
#include "app/storage/StoredProps.h"
#include "serial/ComControls.h"
#include "serial/ComReconnect.h"

#include <QCheckBox>

namespace {
const char *const AutoReconnectKey = "CheckBoxAutomatischNeuVerbinden_Checked";
} // namespace

void TFormMain::BuildReconnect() {
  ComReconnect1 = new TComReconnect(this);
  ComReconnect1->setObjectName(QStringLiteral("ComReconnect1"));
  ComReconnect1->SetComPort(ComPort1);
  ComReconnect1->OnWaitingChange = [this](bool waiting) { ShowWaitingForDevice(waiting); };
  // A port picked in the box while waiting is the user's new choice: the wait for the old ends.
  connect(ComComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComReconnect1->PortChosen(); });
}

QWidget *TFormMain::BuildReconnectOption(QWidget *parent) {
  CheckBoxAutomatischNeuVerbinden = new QCheckBox(QStringLiteral("Automatisch neu verbinden"), parent);
  CheckBoxAutomatischNeuVerbinden->setObjectName(QStringLiteral("CheckBoxAutomatischNeuVerbinden"));
  CheckBoxAutomatischNeuVerbinden->setChecked(ComReconnect1->Enabled());
  connect(CheckBoxAutomatischNeuVerbinden, &QCheckBox::toggled, this,
          [this](bool on) { ComReconnect1->SetEnabled(on); });
  return CheckBoxAutomatischNeuVerbinden;
}

bool TFormMain::WaitingForDevice() const { return ComReconnect1 && ComReconnect1->Waiting(); }

// While waiting the lamps leave the port and glow yellow: closed, but not given up.
void TFormMain::ShowWaitingForDevice(bool waiting) {
  for (TComLed *led : {ComLed1, ComLed2}) {
    if (waiting) {
      led->SetComPort(nullptr);
      led->SetKind(lkYellowLight);
      led->SetState(lsOn);
    } else {
      // Off while unbound: binding to a closed port leaves the lamp as it was.
      led->SetState(lsOff);
      led->SetKind(lkGreenLight);
      led->SetComPort(ComPort1);
    }
  }
  // The device may have come back under another name: the boxes show the port in use.
  if (!waiting) UsePort({}, 0);
  SetWaitingForDevice(waiting);
  if (OnWaitingForDevice) OnWaitingForDevice(waiting);
}

void TFormMain::RestoreReconnectSetting(TFormStorage &storage) {
  if (const auto text = storage.Storage()->ReadValue(storage.PropsSection(), AutoReconnectKey)) {
    try {
      CheckBoxAutomatischNeuVerbinden->setChecked(DecodeBoolean(*text));
    } catch (const EStoredValue &) {
    }
  }
}

void TFormMain::SaveReconnectSetting(TFormStorage &storage) {
  storage.Storage()->WriteValue(storage.PropsSection(), AutoReconnectKey,
                                EncodeBoolean(CheckBoxAutomatischNeuVerbinden->isChecked()));
}
