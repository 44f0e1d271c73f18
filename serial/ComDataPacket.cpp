#include "serial/ComDataPacket.h"

#include <algorithm>

#include "serial/ComPort.h"

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

TComDataPacket::TComDataPacket(QObject *owner) : QObject(owner), FLink(std::make_unique<TComLink>()) {
  FLink->OnRxBuf = [this](TObject *Sender, const char *Buffer, std::int32_t Count) { RxBuf(Sender, Buffer, Count); };
  // A record cut off when the line went away would swallow the first record of the next
  // session: the framer starts empty whenever the port opens or closes (a hangup closes it too).
  FLink->OnConnChange = [this](TObject *, bool) { EmptyBuffer(drLineChanged); };
}

TComDataPacket::~TComDataPacket() {
  // The port must not call a freed link. A failing detach can only mean the link is not in the
  // port's list, so nothing is left pointing at it.
  try {
    SetComPort(nullptr);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// Port

TCustomComPort *TComDataPacket::ComPort() const { return FComPort.data(); }

void TComDataPacket::SetComPort(TCustomComPort *port) {
  if (port == FComPort.data()) return;
  if (TCustomComPort *old = FComPort.data()) {
    QObject::disconnect(FPortDestroyed);
    FComPort = nullptr;
    old->DetachLink(FLink.get());
  }
  FComPort = port;
  if (port == nullptr) return;
  FPortDestroyed = QObject::connect(port, &QObject::destroyed, this, [this](QObject *gone) { PortDestroyed(gone); },
                                    Qt::DirectConnection);
  port->AttachLink(FLink.get());
}

void TComDataPacket::PortDestroyed(QObject * /*port*/) {
  // By now the port is only a QObject: its own destructor has run and it keeps no links, so the
  // reference is dropped without detaching.
  QObject::disconnect(FPortDestroyed);
  FComPort = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Settings

void TComDataPacket::SetCaseInsensitive(bool on) {
  if (on == FCaseInsensitive) return;
  FCaseInsensitive = on;
  SettingChanged();
}

void TComDataPacket::SetIncludeStrings(bool on) { FIncludeStrings = on; }

void TComDataPacket::SetMaxBufferSize(std::int32_t size) { FMaxBufferSize = size; }

void TComDataPacket::SetStartString(const std::string &s) {
  if (s == FStartString) return;
  FStartString = s;
  SettingChanged();
}

void TComDataPacket::SetStopString(const std::string &s) {
  if (s == FStopString) return;
  FStopString = s;
  SettingChanged();
}

void TComDataPacket::SetSize(std::int32_t size) {
  if (size == FSize) return;
  FSize = size;
  SettingChanged();
}

void TComDataPacket::SettingChanged() {
  // What was searched for has changed, so held text must be searched again.
  FSearchFrom = 0;
  if (!FLoading) EmptyBuffer(drSettingChanged);
}

void TComDataPacket::ResetBuffer() { EmptyBuffer(drSettingChanged); }

std::int32_t TComDataPacket::BufferLimit() const {
  return FMaxBufferSize <= 0 || FMaxBufferSize > HardBufferLimit ? HardBufferLimit : FMaxBufferSize;
}

std::uint64_t TComDataPacket::DiscardedBytes() const {
  std::uint64_t sum = 0;
  for (const auto &n : FDiscardedBytes) sum += n.load(std::memory_order_relaxed);
  return sum;
}

// ---------------------------------------------------------------------------------------------
// Reception

void TComDataPacket::RxBuf(TObject * /*Sender*/, const char *Buffer, std::int32_t Count) {
  if (Buffer == nullptr || Count <= 0) return;
  FReceivedBytes.store(FReceivedBytes.load(std::memory_order_relaxed) + std::uint64_t(Count),
                       std::memory_order_relaxed);
  if (!FramingActive()) {
    // Nothing to frame by: every reception is a packet as it came.
    RaisePacket(std::string(Buffer, static_cast<std::size_t>(Count)));
    return;
  }
  if (FHead > 0) {
    FBuffer.erase(0, FHead);
    FHead = 0;
  }
  FBuffer.append(Buffer, static_cast<std::size_t>(Count));
  ProcessBuffer();
}

bool TComDataPacket::FramingActive() const { return FSize > 0 || !FStopString.empty() || OnCustomStop != nullptr; }

void TComDataPacket::ProcessBuffer() {
  // A loop rather than a scan per packet calling itself: a large block of small packets would
  // otherwise nest one call per packet.
  try {
    for (;;) {
      if (!FInPacket) SearchStart();
      if (!FInPacket) break;
      SearchEnd();
      if (FInPacket) break;
    }
  } catch (...) {
    CheckLimit();
    throw;
  }
  CheckLimit();
}

void TComDataPacket::SearchStart() {
  std::int32_t pos = -1;
  RaiseCustomStart(Buffer(), pos);
  if (pos > 0) {
    CutStart(static_cast<std::size_t>(pos));
    return;
  }
  if (pos != -1) return; // the handler says: no start yet, and no built-in search
  if (FStartString.empty()) {
    SetInPacket(true);
    return;
  }
  const std::string_view buf = Buffer();
  const std::size_t found = Find(buf, FStartString, FSearchFrom);
  if (found != std::string_view::npos) {
    CutStart(found + 1);
    return;
  }
  // A start string split over two receptions may begin in the last length-1 characters.
  const std::size_t keep = FStartString.size() - 1;
  FSearchFrom = buf.size() > keep ? buf.size() - keep : 0;
}

void TComDataPacket::CutStart(std::size_t pos) {
  SetInPacket(true);
  if (pos <= 1) return;
  const std::string_view buf = Buffer();
  const std::size_t count = std::min(pos - 1, buf.size());
  std::string discarded(buf.substr(0, count));
  // The buffer is already shortened when the handler sees the discarded text.
  FHead += count;
  FSearchFrom = 0;
  Discard(discarded, drOutsideRecord);
}

void TComDataPacket::SearchEnd() {
  std::int32_t pos = -1;
  RaiseCustomStop(Buffer(), pos);
  const std::string_view buf = Buffer();
  std::size_t length = 0;
  if (pos > 0) {
    length = static_cast<std::size_t>(pos);
  } else if (pos == -1) {
    if (FSize > 0 && buf.size() >= static_cast<std::size_t>(FSize)) {
      length = static_cast<std::size_t>(FSize);
    } else if (!FStopString.empty()) {
      const std::size_t skip = FStartString.size();
      const std::size_t found = Find(buf, FStopString, std::max(skip, FSearchFrom));
      if (found != std::string_view::npos) {
        length = found + FStopString.size();
      } else {
        const std::size_t keep = FStopString.size() - 1;
        FSearchFrom = std::max(skip, buf.size() > keep ? buf.size() - keep : 0);
      }
    }
  }
  // An empty buffer yields no packet, or a stop handler that always answers would cut empty
  // packets for ever.
  if (length == 0 || buf.empty()) return;
  length = std::min(length, buf.size());
  SetInPacket(false);
  std::string packet(buf.substr(0, length));
  FHead += length;
  StripDelimiters(packet);
  RaisePacket(packet);
}

void TComDataPacket::StripDelimiters(std::string &packet) const {
  if (FIncludeStrings) return;
  if (!FStartString.empty() && packet.size() >= FStartString.size() &&
      SameText(std::string_view(packet).substr(0, FStartString.size()), FStartString))
    packet.erase(0, FStartString.size());
  if (FStopString.empty()) return;
  // Only when the first occurrence is the packet's end: a stop string that also occurs earlier
  // leaves the packet as it is.
  const std::size_t found = Find(packet, FStopString, 0);
  if (found != std::string::npos && found == packet.size() - FStopString.size())
    packet.erase(found);
}

void TComDataPacket::CheckLimit() {
  if (Buffer().size() >= static_cast<std::size_t>(BufferLimit()))
    EmptyBuffer(FInPacket ? drRecordTooLong : drBufferFull);
}

void TComDataPacket::EmptyBuffer(TDiscardReason reason) {
  if (Buffer().empty()) return;
  const std::string discarded(Buffer());
  try {
    Discard(discarded, reason);
  } catch (...) {
    FBuffer.clear();
    FHead = 0;
    SetInPacket(false);
    throw;
  }
  FBuffer.clear();
  FHead = 0;
  SetInPacket(false);
}

void TComDataPacket::SetInPacket(bool on) {
  FInPacket = on;
  // The target of the search has changed (start to stop string or back).
  FSearchFrom = 0;
}

std::size_t TComDataPacket::Find(std::string_view text, const std::string &what, std::size_t from) const {
  if (what.empty() || from >= text.size()) return std::string_view::npos;
  if (!FCaseInsensitive) return text.find(what, from);
  const auto eq = [](char a, char b) { return FoldAscii(a) == FoldAscii(b); };
  const auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), what.begin(), what.end(), eq);
  return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

bool TComDataPacket::SameText(std::string_view a, std::string_view b) const {
  if (!FCaseInsensitive) return a == b;
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

// ---------------------------------------------------------------------------------------------
// Events

void TComDataPacket::RaisePacket(const std::string &Str) {
  if (OnPacket) OnPacket(this, Str);
}

void TComDataPacket::Discard(const std::string &Str, TDiscardReason reason) {
  std::atomic<std::uint64_t> &bytes = FDiscardedBytes[reason];
  bytes.store(bytes.load(std::memory_order_relaxed) + Str.size(), std::memory_order_relaxed);
  FDiscardReason = reason;
  RaiseDiscard(Str);
}

void TComDataPacket::RaiseDiscard(const std::string &Str) {
  if (OnDiscard) OnDiscard(this, Str);
}

void TComDataPacket::RaiseCustomStart(std::string_view Str, std::int32_t &Pos) {
  if (OnCustomStart) OnCustomStart(this, std::string(Str), Pos);
}

void TComDataPacket::RaiseCustomStop(std::string_view Str, std::int32_t &Pos) {
  if (OnCustomStop) OnCustomStop(this, std::string(Str), Pos);
}
