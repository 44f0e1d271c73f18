#include "app/startup/Demo.h"

#include <cstring>

#include <QCheckBox>

#include "app/window/FormMain.h"
#include "instruments/AnVMeter.h"
#include "serial/ComPort.h"
#include "tools/SimRunner.h"

TDemo::TDemo(TFormMain &form) : FForm(form) {}

// The simulator goes first: it writes into the device the port reads.
TDemo::~TDemo() {
  if (FSim) FSim->Stop();
}

bool TDemo::Start(double recordsPerSecond, std::string &error) {
  if (const int e = FPty.Open(); e != 0) {
    error = std::string("cannot create the simulated device: ") + std::strerror(e);
    return false;
  }
  // The design size of a meter leaves no room for its scale: the demo shows them as a first
  // start does, in two rows of five.
  FForm.ApplyFirstStartLayout();
  for (int i = 1; i <= 10; ++i) {
    if (auto *meter = FForm.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i))) meter->SetVisible(true);
    if (auto *box = FForm.FindComponent<QCheckBox>(QStringLiteral("CheckBox%1").arg(i))) box->setChecked(true);
  }
  FForm.UsePort(FPty.SlavePath(), 115200);
  FForm.SetDemo(true);
  FForm.ComPort1->SetConnected(true);
  // Started once the port listens, so the meters see the stream from its first record.
  TSimOptions options;
  options.Rate = recordsPerSecond;
  FSim = std::make_unique<TSimulator>(options);
  if (const int e = FSim->Start(FPty.MasterFd()); e != 0) {
    error = std::string("cannot start the simulated device: ") + std::strerror(e);
    return false;
  }
  return true;
}
