// The measurement handler: one framed record sets the value of one meter.
#include "app/FormMain.h"
#include "app/MeasurementProtocol.h"
#include "instruments/AnVMeter.h"

void TFormMain::ComDataPacket1Packet(TObject *, const std::string &Str) {
  const auto record = ParseMeasurementRecord(Str, FormatSettings());
  if (!record) return;
  // A record never raises: a missing or foreign component simply drops it.
  try {
    if (auto *meter = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(record->Instrument)))
      meter->SetValue(record->Value);
  } catch (...) {
  }
}
