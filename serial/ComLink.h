#pragma once
// The object through which a component attaches to a serial port and hears from it: received
// bytes, written bytes, open and close, modem lines and line activity. Owned by the component.
#include <cstdint>
#include <functional>

#include "platform/Events.h"

using TComSignalSlot = std::function<void(TObject *Sender, bool OnOff)>;
using TComDataSlot = std::function<void(TObject *Sender, const char *Buffer, std::int32_t Count)>;
using TComNotifySlot = std::function<void(TObject *Sender)>;

class TComLink {
public:
  // The eleven slots in the order the port knows them; Sender is always the port. A buffer is
  // valid only during the call.
  TComSignalSlot OnConnChange;
  TComDataSlot OnRxBuf;
  TComDataSlot OnTxData;
  TComNotifySlot OnTxEmpty;
  TComNotifySlot OnRxFlag;
  TComSignalSlot OnCTSChange;
  TComSignalSlot OnDSRChange;
  TComSignalSlot OnRLSDChange;
  TComNotifySlot OnRing;
  TComSignalSlot OnTxActivity;
  TComSignalSlot OnRxActivity;
};
