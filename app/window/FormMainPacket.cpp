// The measurement handler: one framed record sets the value of one meter.
#include "app/records/DropLog.h"
#include "app/window/FormMain.h"
#include "app/records/MeasurementProtocol.h"
#include "app/records/Recorder.h"
#include "instruments/AnVMeter.h"
#include "instruments/TrendHistory.h"

TAnVMeter *TFormMain::PacketTarget(std::int32_t number) {
  auto &target = FPacketTargets[number];
  if (!target) target = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(number));
  return target;
}

void TFormMain::ComDataPacket1Packet(TObject *, const std::string &Str) {
  const auto record = ParseMeasurementRecord(Str, FormatSettings());
  TAnVMeter *set = nullptr;
  // A record never raises: a missing or foreign component simply drops it.
  try {
    if (TAnVMeter *meter = record ? PacketTarget(record->Instrument) : nullptr) {
      meter->SetValue(record->Value);
      set = meter;
    }
  } catch (...) {
  }
  ++FRecordsSeen;
  if (!set) FDropLog->Add(Str);
  // The trend charts get what the recording gets; what they draw comes from the history.
  if (set) TrendHistory1->Add(record->Instrument, record->Value);
  if (set) PublishRecord(record->Instrument, record->Value);
  if (FRecorder) {
    if (!set)
      FRecorder->Dropped(Str);
    else if (FRecorder->Raw())
      FRecorder->AcceptedRaw(record->Instrument, record->Value, set->SignalSettings().ValueUnit(), Str);
    else
      FRecorder->Accepted(record->Instrument, record->Value, set->SignalSettings().ValueUnit());
  }
  if (OnMeasurement) OnMeasurement(Str, set);
}
