// The port-bound selection box and lamp.
#include "serial/ComControls.h"

#include "platform/Application.h"
#include "platform/Canvas.h"
#include "platform/GuiThread.h"
#include "tty/SerialPortList.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <exception>

namespace {

QString ToQString(const std::string &text) { return QString::fromStdString(text); }

// The conversions of the port's texts compare upper-cased ASCII; the list lookup does the same.
bool SameText(const std::string &a, const std::string &b) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return upper(x) == upper(y);
         });
}

template <class E, class ToText> std::vector<std::string> AllTexts(E last, ToText toText) {
  std::vector<std::string> texts;
  for (int i = 0; i <= int(last); ++i)
    texts.push_back(toText(E(i)));
  return texts;
}

void ListMachinePorts(std::vector<std::string> &list) { ListSerialPorts(list); }

} // namespace

// --- the items ----------------------------------------------------------------------------------

std::vector<std::string> ComPropertyItems(TComProperty property) {
  switch (property) {
  case cpBaudRate:
    return AllTexts(br256000, BaudRateToText);
  case cpDataBits:
    return AllTexts(dbEight, DataBitsToText);
  case cpStopBits:
    return AllTexts(sbTwoStopBits, StopBitsToText);
  case cpParity:
    return AllTexts(prSpace, ParityToText);
  case cpFlowControl:
    return AllTexts(fcCustom, FlowControlToText);
  case cpNone:
  case cpPort:
    break;
  }
  return {};
}

std::string ComPropertyText(const TCustomComPort &port, TComProperty property) {
  switch (property) {
  case cpPort:
    return port.Port();
  case cpBaudRate:
    return BaudRateToText(port.BaudRate());
  case cpDataBits:
    return DataBitsToText(port.DataBits());
  case cpStopBits:
    return StopBitsToText(port.StopBits());
  case cpParity:
    return ParityToText(port.Parity().Bits());
  case cpFlowControl:
    return FlowControlToText(port.FlowControl().FlowControl());
  case cpNone:
    break;
  }
  return {};
}

// --- TComSelect ---------------------------------------------------------------------------------

TComSelect::TComSelect(QComboBox &items) : FItems(items), FPortLister(ListMachinePorts) {}

void TComSelect::SetPortLister(TSerialPortLister lister) {
  FPortLister = lister ? std::move(lister) : TSerialPortLister(ListMachinePorts);
}

void TComSelect::SetItems(const std::vector<std::string> &texts) {
  QStringList list;
  list.reserve(int(texts.size()));
  for (const std::string &text : texts)
    list.append(ToQString(text));
  FItems.clear();
  FItems.addItems(list);
}

std::string TComSelect::ItemText(int index) const {
  return index >= 0 && index < FItems.count() ? FItems.itemText(index).toStdString() : std::string();
}

int TComSelect::IndexOf(const std::string &text) const {
  for (int i = 0; i < FItems.count(); ++i)
    if (SameText(ItemText(i), text))
      return i;
  return -1;
}

void TComSelect::FillItems() {
  if (FComProperty != cpPort) {
    SetItems(ComPropertyItems(FComProperty));
    return;
  }
  std::vector<std::string> ports;
  FPortLister(ports);
  SetItems(ports);
}

void TComSelect::SetComProperty(TComProperty value) {
  FComProperty = value;
  FillItems();
  if (FItems.count() == 0)
    return;
  if (FComPort)
    SelectPortValue();
  else
    FItems.setCurrentIndex(0);
}

void TComSelect::SelectPortValue() {
  if (!FComPort || FComProperty == cpNone)
    return;
  const std::string value = ComPropertyText(*FComPort, FComProperty);
  int index = IndexOf(value);
  // A port named by a path the list does not hold (a pseudo-terminal, a udev link) is the port in
  // use all the same: it shows as an item of its own rather than as a blank box. A name that is
  // not listed (a board not plugged in) selects nothing.
  if (index < 0 && FComProperty == cpPort && value.rfind('/', 0) == 0) {
    FItems.addItem(ToQString(value));
    index = FItems.count() - 1;
  }
  FItems.setCurrentIndex(index);
  if (index >= 0)
    TakePending(ItemText(index));
}

void TComSelect::RefreshPorts() {
  const std::string selected = ItemText(FItems.currentIndex());
  FillItems();
  const int kept = selected.empty() ? -1 : IndexOf(selected);
  if (kept >= 0)
    FItems.setCurrentIndex(kept);
  else if (FComPort)
    SelectPortValue();
  else
    FItems.setCurrentIndex(-1);
}

void TComSelect::TakePending(const std::string &text) {
  switch (FComProperty) {
  case cpPort:
    FPendingPort = text;
    break;
  case cpBaudRate:
    FPendingBaudRate = TextToBaudRate(text);
    break;
  case cpDataBits:
    FPendingDataBits = TextToDataBits(text);
    break;
  case cpStopBits:
    FPendingStopBits = TextToStopBits(text);
    break;
  case cpParity:
    FPendingParity = TextToParity(text);
    break;
  case cpFlowControl:
    FPendingFlowControl = TextToFlowControl(text);
    break;
  case cpNone:
    break;
  }
}

void TComSelect::ApplyPending() {
  TCustomComPort *port = FComPort;
  if (!port)
    return;
  try {
    switch (FComProperty) {
    case cpPort:
      port->SetPort(FPendingPort);
      break;
    case cpBaudRate:
      port->SetBaudRate(FPendingBaudRate);
      break;
    case cpDataBits:
      port->SetDataBits(FPendingDataBits);
      break;
    case cpStopBits:
      port->SetStopBits(FPendingStopBits);
      break;
    case cpParity:
      port->Parity().SetBits(FPendingParity);
      break;
    case cpFlowControl:
      port->FlowControl().SetFlowControl(FPendingFlowControl);
      break;
    case cpNone:
      break;
    }
  } catch (...) {
    // The first failure is the one the user must see; a failing close releases the device all
    // the same, so its own failure adds nothing.
    if (port->Connected()) {
      try {
        port->ClosePort();
      } catch (...) {
      }
    }
    throw;
  }
}

// --- TComComboBox -------------------------------------------------------------------------------

TComComboBox::TComComboBox(QWidget *parent) : QComboBox(parent), FSelect(*this) {
  setEditable(false);
  // Qt does not carry exceptions through its signal delivery: the failure is shown here.
  connect(this, &QComboBox::activated, this, [this](int) { RunGuarded([this] { Change(); }); });
}

TComComboBox::~TComComboBox() { disconnect(FPortDestroyed); }

void TComComboBox::SetComPort(TCustomComPort *value) {
  if (value == FSelect.ComPort())
    return;
  disconnect(FPortDestroyed);
  FSelect.SetComPort(value);
  if (!value)
    return;
  FPortDestroyed = connect(value, &QObject::destroyed, this, [this] { PortRemoved(); });
  FSelect.SelectPortValue();
}

void TComComboBox::PortRemoved() {
  disconnect(FPortDestroyed);
  FSelect.SetComPort(nullptr);
  if (count() > 0)
    setCurrentIndex(0);
}

std::string TComComboBox::Text() const {
  return currentIndex() >= 0 ? itemText(currentIndex()).toStdString() : std::string();
}

void TComComboBox::SetText(const std::string &value) {
  const int index = FSelect.IndexOf(value);
  if (index >= 0)
    setCurrentIndex(index);
}

void TComComboBox::showPopup() {
  if (ComProperty() == cpPort)
    FSelect.RefreshPorts();
  QComboBox::showPopup();
}

void TComComboBox::Change() {
  if (currentIndex() >= 0)
    FSelect.TakePending(Text());
  if (AutoApply())
    FSelect.ApplyPending();
  if (OnChange)
    OnChange(this);
}

// --- the lamp pictures --------------------------------------------------------------------------

namespace {

constexpr int LedPictureSize = 15;

QImage BlankPicture() {
  QImage image(LedPictureSize, LedPictureSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A round lamp: a lit one glows from a bright centre with a white highlight, an unlit one shows
// the dark glass with a faint reflection.
QImage DrawLamp(const QColor &base, bool lit) {
  QImage image = BlankPicture();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF glass(1.0, 1.0, 13.0, 13.0);
  QRadialGradient fill(QPointF(6.0, 5.5), 8.0, QPointF(5.0, 4.5));
  if (lit) {
    fill.setColorAt(0.0, base.lighter(175));
    fill.setColorAt(0.45, base);
    fill.setColorAt(1.0, base.darker(170));
  } else {
    fill.setColorAt(0.0, base.darker(220));
    fill.setColorAt(1.0, base.darker(480));
  }
  p.setPen(QPen(base.darker(lit ? 260 : 520), 1.0));
  p.setBrush(fill);
  p.drawEllipse(glass);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, lit ? 210 : 80));
  p.drawEllipse(QRectF(3.5, 3.0, 4.0, 3.0));
  return image;
}

// A light bulb: the glass globe on top, the screw base below; lit, the globe glows warm yellow
// around a bright filament.
QImage DrawBulb(bool lit) {
  QImage image = BlankPicture();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient glass(QPointF(7.5, 5.0), 6.5, QPointF(6.5, 4.0));
  if (lit) {
    glass.setColorAt(0.0, QColor(255, 255, 230));
    glass.setColorAt(0.5, QColor(255, 230, 90));
    glass.setColorAt(1.0, QColor(230, 150, 20));
  } else {
    glass.setColorAt(0.0, QColor(245, 245, 245));
    glass.setColorAt(1.0, QColor(160, 160, 165));
  }
  QPainterPath globe;
  globe.addEllipse(QRectF(2.5, 0.5, 10.0, 9.5));
  QPainterPath neck;
  neck.moveTo(5.0, 8.0);
  neck.lineTo(10.0, 8.0);
  neck.lineTo(9.5, 10.5);
  neck.lineTo(5.5, 10.5);
  neck.closeSubpath();
  p.setPen(QPen(lit ? QColor(180, 110, 10) : QColor(110, 110, 115), 1.0));
  p.setBrush(glass);
  p.drawPath(globe.united(neck));
  p.setPen(QPen(lit ? QColor(255, 255, 255) : QColor(120, 100, 80), 1.0));
  p.drawLine(QPointF(6.0, 7.0), QPointF(7.5, 4.5));
  p.drawLine(QPointF(7.5, 4.5), QPointF(9.0, 7.0));
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 150, 155));
  p.drawRect(5, 11, 5, 3);
  p.setBrush(QColor(90, 90, 95));
  p.drawRect(5, 12, 5, 1);
  p.drawRect(6, 14, 3, 1);
  return image;
}

QImage DrawPicture(TLedKind kind, bool lit) {
  switch (kind) {
  case lkRedLight:
    return DrawLamp(QColor(235, 35, 30), lit);
  case lkGreenLight:
    return DrawLamp(QColor(40, 215, 45), lit);
  case lkBlueLight:
    return DrawLamp(QColor(40, 110, 255), lit);
  case lkYellowLight:
    return DrawLamp(QColor(255, 215, 30), lit);
  case lkPurpleLight:
    return DrawLamp(QColor(185, 55, 220), lit);
  case lkBulb:
    return DrawBulb(lit);
  case lkCustom:
    break;
  }
  return {};
}

} // namespace

QImage LedPicture(TLedKind kind, TLedState state) {
  if (kind < lkRedLight || kind >= lkCustom)
    return {};
  // Drawn once per kind and state; images are shared, so handing out copies costs nothing.
  static std::array<QImage, 2 * lkCustom> cache;
  QImage &picture = cache[size_t(kind) * 2 + (state == lsOn ? 1 : 0)];
  if (picture.isNull())
    picture = MakeTransparent(DrawPicture(kind, state == lsOn));
  return picture;
}

QImage MakeTransparent(const QImage &image) {
  if (image.isNull())
    return image;
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = out.pixel(0, out.height() - 1);
  for (int y = 0; y < out.height(); ++y) {
    auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      if (line[x] == key)
        line[x] = 0;
  }
  return out;
}

TPoint LedPicturePos(const TRect &client, int width, int height) {
  // Integer division truncates toward zero, as the placement rule asks.
  return {client.Left + std::max(0, (client.Width() - width) / 2),
          client.Top + std::max(0, (client.Height() - height) / 2)};
}

// --- TComLed ------------------------------------------------------------------------------------

TComLed::TComLed(QWidget *parent) : QWidget(parent) {
  resize(25, 25);
  FRingTimer.setSingleShot(true);
  FRingTimer.setInterval(FRingDuration);
  connect(&FRingTimer, &QTimer::timeout, this, [this] { RingTimerFired(); });
  LoadPictures();
  FLink.OnConnChange = [this](TObject *, bool onOff) { SignalChanged(onOff); };
}

TComLed::~TComLed() {
  disconnect(FPortDestroyed);
  FRingTimer.stop();
  if (TCustomComPort *port = FComPort) {
    try {
      port->DetachLink(&FLink);
    } catch (...) {
      ShowCurrentException();
    }
  }
}

void TComLed::SetComPort(TCustomComPort *value) {
  if (value == FComPort)
    return;
  if (TCustomComPort *old = FComPort) {
    disconnect(FPortDestroyed);
    old->DetachLink(&FLink);
  }
  FComPort = value;
  if (!value) {
    ChangeState(lsOff);
    return;
  }
  FPortDestroyed = connect(value, &QObject::destroyed, this, [this] { PortRemoved(); });
  value->AttachLink(&FLink);
  if (value->Connected() && !FLoading)
    ChangeState(PortSignalState());
}

void TComLed::PortRemoved() {
  // The port is gone and took its link list with it: nothing to detach.
  disconnect(FPortDestroyed);
  FComPort = nullptr;
  ChangeState(lsOff);
}

TLedState TComLed::PortSignalState() {
  TComSignal line;
  switch (FLedSignal) {
  case lsConn:
    return lsOn;
  case lsCTS:
    line = csCTS;
    break;
  case lsDSR:
    line = csDSR;
    break;
  case lsRLSD:
    line = csRLSD;
    break;
  default:
    return lsOff;
  }
  return FComPort->ModemSignals().Contains(line) ? lsOn : lsOff;
}

void TComLed::SetLedSignal(TComLedSignal value) {
  if (value == FLedSignal)
    return;
  FLedSignal = value;
  FLink.OnConnChange = nullptr;
  FLink.OnCTSChange = nullptr;
  FLink.OnDSRChange = nullptr;
  FLink.OnRLSDChange = nullptr;
  FLink.OnRing = nullptr;
  FLink.OnTxActivity = nullptr;
  FLink.OnRxActivity = nullptr;
  const TComSignalSlot follow = [this](TObject *, bool onOff) { SignalChanged(onOff); };
  switch (value) {
  case lsConn:
    FLink.OnConnChange = follow;
    break;
  case lsCTS:
    FLink.OnCTSChange = follow;
    break;
  case lsDSR:
    FLink.OnDSRChange = follow;
    break;
  case lsRLSD:
    FLink.OnRLSDChange = follow;
    break;
  case lsRing:
    FLink.OnRing = [this](TObject *) { Ring(); };
    break;
  case lsRx:
    FLink.OnRxActivity = follow;
    break;
  case lsTx:
    FLink.OnTxActivity = follow;
    break;
  }
}

void TComLed::SetKind(TLedKind value) {
  if (value == FKind)
    return;
  FKind = value;
  LoadPictures();
  update();
}

void TComLed::LoadPictures() {
  if (FKind == lkCustom)
    return;
  FGlyphOn = LedPicture(FKind, lsOn);
  FGlyphOff = LedPicture(FKind, lsOff);
}

void TComLed::SetGlyphOn(const QImage &value) {
  if (FKind != lkCustom)
    return;
  FGlyphOn = MakeTransparent(value);
  update();
}

void TComLed::SetGlyphOff(const QImage &value) {
  if (FKind != lkCustom)
    return;
  FGlyphOff = MakeTransparent(value);
  update();
}

void TComLed::SetState(TLedState value) {
  if (FComPort)
    throw EComPort(CE_LedStateFailed + 1);
  ChangeState(value);
}

void TComLed::SetRingDuration(int32_t value) {
  FRingDuration = value;
  FRingTimer.setInterval(std::max<int32_t>(0, value));
}

void TComLed::ChangeState(TLedState state) {
  FState = state;
  if (!FLoading)
    DoChange(state);
  update();
}

void TComLed::DoChange(TLedState state) {
  if (OnChange)
    OnChange(this, state);
}

void TComLed::SignalChanged(bool onOff) {
  // With smNone the port calls from its event thread; widgets live on the GUI thread.
  if (!IsGuiThread()) {
    QMetaObject::invokeMethod(this, [this, onOff] { SignalChanged(onOff); }, Qt::QueuedConnection);
    return;
  }
  ChangeState(onOff ? lsOn : lsOff);
  // Show the lamp now, while the port may stay busy for a while; painting just this control
  // does not re-enter user input as a general event-loop pass would.
  repaint();
}

void TComLed::Ring() {
  if (!IsGuiThread()) {
    QMetaObject::invokeMethod(this, [this] { Ring(); }, Qt::QueuedConnection);
    return;
  }
  FRingTimer.start();
  ChangeState(lsOn);
}

void TComLed::RingTimerFired() {
  FRingTimer.stop();
  ChangeState(lsOff);
}

void TComLed::paintEvent(QPaintEvent *) {
  if (FGlyphOn.isNull() || FGlyphOff.isNull())
    LoadPictures();
  const QImage &picture = isEnabled() && FState == lsOn ? FGlyphOn : FGlyphOff;
  if (picture.isNull())
    return;
  const TPoint at = LedPicturePos(TRect::FromQRect(rect()), picture.width(), picture.height());
  QPainter painter(this);
  TCanvas canvas(painter);
  canvas.Draw(at.X, at.Y, picture);
}

void TComLed::changeEvent(QEvent *event) {
  if (event->type() == QEvent::EnabledChange)
    update();
  QWidget::changeEvent(event);
}
