#pragma once
// The packet framer: cuts the bytes a port receives into packets by a start string, a stop
// string, a fixed size or the user's own search handlers, and hands each packet to OnPacket.
// Text that lies outside any packet goes to OnDiscard. Runs on the thread that delivers the
// port's received data and takes no locks.
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Events.h"
#include "serial/ComLink.h"

class TCustomComPort;

// Why the framer let text go instead of handing it out as a packet.
enum TDiscardReason {
  drOutsideRecord, // text before a packet's start
  drRecordTooLong, // a started packet filled the buffer without its end
  drBufferFull,    // the buffer filled without any packet start
  drLineChanged,   // held when the port opened or closed
  drSettingChanged // held when the framing settings changed or the buffer was reset
};
constexpr int DiscardReasonCount = drSettingChanged + 1;

using TComStrEvent = std::function<void(TObject *Sender, const std::string &Str)>;
// Str is the whole receive buffer; Pos is -1 on entry and 1-based when the handler sets it.
using TCustPacketEvent = std::function<void(TObject *Sender, const std::string &Str, std::int32_t &Pos)>;

class TComDataPacket : public QObject, public TObject {
  Q_OBJECT
public:
  // A limit of 0 or less would let a stream without stop string grow the buffer until memory
  // runs out; such a limit, and any limit above this one, holds the buffer to this size.
  static constexpr std::int32_t HardBufferLimit = 16 * 1024 * 1024;

  explicit TComDataPacket(QObject *owner = nullptr);
  ~TComDataPacket() override;
  TComDataPacket(const TComDataPacket &) = delete;
  TComDataPacket &operator=(const TComDataPacket &) = delete;
  const char *ClassName() const override { return "TComDataPacket"; }

  // The port whose received bytes are framed; not owned. A destroyed port clears itself.
  TCustomComPort *ComPort() const;
  void SetComPort(TCustomComPort *port);

  bool CaseInsensitive() const { return FCaseInsensitive; }
  void SetCaseInsensitive(bool on);
  bool IncludeStrings() const { return FIncludeStrings; }
  void SetIncludeStrings(bool on);
  std::int32_t MaxBufferSize() const { return FMaxBufferSize; }
  void SetMaxBufferSize(std::int32_t size);
  const std::string &StartString() const { return FStartString; }
  void SetStartString(const std::string &s);
  const std::string &StopString() const { return FStopString; }
  void SetStopString(const std::string &s);
  std::int32_t Size() const { return FSize; }
  void SetSize(std::int32_t size);

  // Hands everything held to OnDiscard and starts searching afresh.
  void ResetBuffer();
  // The size at which the held text is discarded: MaxBufferSize, or HardBufferLimit when that
  // is 0 or less or larger.
  std::int32_t BufferLimit() const;

  // Running totals, written only by the thread that delivers the port's data and readable from
  // any thread at any time: bytes received, and bytes discarded per reason.
  std::uint64_t ReceivedBytes() const { return FReceivedBytes.load(std::memory_order_relaxed); }
  std::uint64_t DiscardedBytes(TDiscardReason reason) const {
    return FDiscardedBytes[reason].load(std::memory_order_relaxed);
  }
  std::uint64_t DiscardedBytes() const;
  // The reason of the discard being reported; valid inside OnDiscard.
  TDiscardReason DiscardReason() const { return FDiscardReason; }

  // Stored properties are being applied: changed settings keep the buffer until Loaded().
  void BeginLoading() { FLoading = true; }
  virtual void Loaded() { FLoading = false; }
  bool Loading() const { return FLoading; }

  // Received text not yet handed out; valid until the framer next changes its buffer.
  std::string_view Buffer() const { return std::string_view(FBuffer).substr(FHead); }
  // True while the front of the buffer is known to be the start of a packet.
  bool InPacket() const { return FInPacket; }
  // The framer's attachment to its port (only OnRxBuf is set).
  TComLink *Link() const { return FLink.get(); }

  TComStrEvent OnDiscard;
  TComStrEvent OnPacket;
  TCustPacketEvent OnCustomStart;
  TCustPacketEvent OnCustomStop;

protected:
  // The scan of one reception: every complete packet it holds, in order, then the size limit.
  virtual void ProcessBuffer();
  virtual void RaisePacket(const std::string &Str);
  virtual void RaiseDiscard(const std::string &Str);
  // Str views the framer's buffer and is valid only during the call.
  virtual void RaiseCustomStart(std::string_view Str, std::int32_t &Pos);
  virtual void RaiseCustomStop(std::string_view Str, std::int32_t &Pos);

private:
  void RxBuf(TObject *Sender, const char *Buffer, std::int32_t Count);
  bool FramingActive() const;
  void SearchStart();
  void SearchEnd();
  void CutStart(std::size_t pos);
  void StripDelimiters(std::string &packet) const;
  void CheckLimit();
  void EmptyBuffer(TDiscardReason reason);
  void Discard(const std::string &Str, TDiscardReason reason);
  void SettingChanged();
  void SetInPacket(bool on);
  std::size_t Find(std::string_view text, const std::string &what, std::size_t from) const;
  bool SameText(std::string_view a, std::string_view b) const;
  void PortDestroyed(QObject *port);

  std::unique_ptr<TComLink> FLink;
  QPointer<TCustomComPort> FComPort;
  QMetaObject::Connection FPortDestroyed;
  std::string FStartString;
  std::string FStopString;
  std::int32_t FMaxBufferSize = 1024;
  std::int32_t FSize = 0;
  bool FIncludeStrings = false;
  bool FCaseInsensitive = false;
  bool FInPacket = false;
  bool FLoading = false;
  // The buffer's text starts at FHead: consumed text is dropped once per reception, not once per
  // packet, so a block of many small packets is cut in linear time.
  std::string FBuffer;
  std::size_t FHead = 0;
  // Offset (from FHead) below which the built-in search for the current target (start or stop
  // string) already failed; only appending keeps it, so held text is not searched again.
  std::size_t FSearchFrom = 0;
  // One writer each: a load and a store, not a locked add, keep the cost per reception at a
  // plain increment.
  std::atomic<std::uint64_t> FReceivedBytes{0};
  std::array<std::atomic<std::uint64_t>, DiscardReasonCount> FDiscardedBytes{};
  TDiscardReason FDiscardReason = drOutsideRecord;
};
