// The port-bound selection box and lamp: the item lists, selecting the port's value, picking with
// and without AutoApply, failures while applying, the refill on drop-down, the removal notice;
// the lamp's link wiring, its state rules, the ring timer, the pictures and the painting.
#include "serial/ComControls.h"

#include "platform/Application.h"
#include "tty/FakeSerialDevice.h"
#include "platform/GuiThread.h"
#include "tty/PseudoTerminal.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <termios.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Items(const QComboBox &box) {
  std::vector<std::string> items;
  for (int i = 0; i < box.count(); ++i)
    items.push_back(box.itemText(i).toStdString());
  return items;
}

// What the user's pick does: the list selects the item, then the box hears `activated`.
void Pick(TComComboBox &box, const std::string &text) {
  const int index = box.findText(QString::fromStdString(text), Qt::MatchExactly);
  ASSERT_GE(index, 0) << text;
  box.setCurrentIndex(index);
  emit box.activated(index);
}

// A port on a scripted device, with no event thread unless asked.
struct TFakePort {
  explicit TFakePort(bool events = false) {
    port = new TComPort;
    port->SetDeviceFactory([this] { return device; });
    if (!events)
      port->SetEvents({});
  }
  ~TFakePort() { delete port; }
  TFakePort(const TFakePort &) = delete;
  TFakePort &operator=(const TFakePort &) = delete;
  TComPort *port;
  std::shared_ptr<TFakeSerialDevice> device = std::make_shared<TFakeSerialDevice>();
};

// Collects what the application's exception display is given.
class TShownErrors {
public:
  TShownErrors() : FPrevious(SetExceptionSink([this](const std::string &m) { Messages.push_back(m); })) {}
  ~TShownErrors() { SetExceptionSink(FPrevious); }
  std::vector<std::string> Messages;

private:
  TExceptionSink FPrevious;
};

TSerialPortLister Lister(std::shared_ptr<std::vector<std::string>> ports) {
  return [ports](std::vector<std::string> &list) { list = *ports; };
}

// --- item lists ---------------------------------------------------------------------------------

struct TItemsCase {
  TComProperty Property;
  std::vector<std::string> Items;
};

TEST(ComComboBox, itemListPerProperty) {
  const TItemsCase cases[] = {
      {cpNone, {}},
      {cpBaudRate,
       {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600",
        "115200", "128000", "256000"}},
      {cpDataBits, {"5", "6", "7", "8"}},
      {cpStopBits, {"1", "1.5", "2"}},
      {cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
      {cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
      {cpPort, {"COM1", "COM10", "COM2"}},
  };
  for (const TItemsCase &c : cases) {
    TComComboBox box;
    box.SetPortLister([](std::vector<std::string> &list) { list = {"COM1", "COM10", "COM2"}; });
    box.SetComProperty(c.Property);
    EXPECT_EQ(Items(box), c.Items) << c.Property;
    // Unbound, a filled list selects its first item.
    EXPECT_EQ(box.ItemIndex(), c.Items.empty() ? -1 : 0) << c.Property;
    EXPECT_FALSE(box.isEditable());
  }
}

// --- selecting the port's value -----------------------------------------------------------------

struct TSelectCase {
  const char *Name;
  TComProperty Property;
  std::function<void(TComPort &)> Configure;
  int Index;
  std::string Text;
};

TEST(ComComboBox, selectsThePortsValue) {
  const TSelectCase cases[] = {
      {"br19200", cpBaudRate, [](TComPort &p) { p.SetBaudRate(br19200); }, 9, "19200"},
      {"brCustom", cpBaudRate, [](TComPort &p) { p.SetBaudRate(brCustom); }, 0, "Custom"},
      {"dbSeven", cpDataBits, [](TComPort &p) { p.SetDataBits(dbSeven); }, 2, "7"},
      {"sbOne5", cpStopBits, [](TComPort &p) { p.SetStopBits(sbOne5StopBits); }, 1, "1.5"},
      {"prMark", cpParity, [](TComPort &p) { p.Parity().SetBits(prMark); }, 3, "Mark"},
      {"hardwareFlow", cpFlowControl, [](TComPort &p) { p.FlowControl().SetFlowControl(fcHardware); }, 0,
       "Hardware"},
      {"derivedCustomFlow", cpFlowControl, [](TComPort &p) { p.FlowControl().SetXonXoffIn(true); }, 3, "Custom"},
      {"listedPortAnyCase", cpPort, [](TComPort &p) { p.SetPort("ttyusb1"); }, 1, "ttyUSB1"},
      {"unlistedPortSelectsNothing", cpPort, [](TComPort &p) { p.SetPort("COM10"); }, -1, ""},
      {"unlistedPathShowsAsAnItemOfItsOwn", cpPort, [](TComPort &p) { p.SetPort("/dev/pts/3"); }, 2, "/dev/pts/3"},
      {"cpNoneSelectsNothing", cpNone, [](TComPort &) {}, -1, ""},
  };
  for (const TSelectCase &c : cases) {
    for (const bool bindFirst : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (bindFirst ? " bound first" : " property first"));
      TComPort port;
      c.Configure(port);
      TComComboBox box;
      box.SetPortLister([](std::vector<std::string> &list) { list = {"ttyACM0", "ttyUSB1"}; });
      if (bindFirst)
        box.SetComPort(&port);
      box.SetComProperty(c.Property);
      if (!bindFirst)
        box.SetComPort(&port);
      EXPECT_EQ(box.ItemIndex(), c.Index);
      EXPECT_EQ(box.Text(), c.Text);
      EXPECT_EQ(box.ComPort(), &port);
    }
  }
}

TEST(ComComboBox, textReadAndWrite) {
  TComComboBox box;
  box.SetComProperty(cpParity);
  box.SetText("even");
  EXPECT_EQ(box.Text(), "Even");
  box.SetText("Sideways");
  EXPECT_EQ(box.Text(), "Even");
  box.SetItemIndex(-1);
  EXPECT_EQ(box.Text(), "");
  box.SetText("SPACE");
  EXPECT_EQ(box.ItemIndex(), 4);
}

// --- picking ------------------------------------------------------------------------------------

TEST(ComComboBox, pickWritesToThePortOnlyWithAutoApply) {
  const std::pair<TComProperty, std::string> cases[] = {
      {cpBaudRate, "115200"}, {cpDataBits, "6"},           {cpStopBits, "2"},
      {cpParity, "Odd"},      {cpFlowControl, "Software"}, {cpPort, "ttyUSB0"},
  };
  for (const auto &[property, pick] : cases) {
    for (const bool autoApply : {true, false}) {
      SCOPED_TRACE(pick + (autoApply ? " AutoApply" : " no AutoApply"));
      TComPort port; // defaults: COM1, 9600, 8 bits, one stop bit, no parity, no flow control
      const std::string before = ComPropertyText(port, property);
      TComComboBox box;
      box.SetPortLister([](std::vector<std::string> &list) { list = {"COM1", "ttyUSB0"}; });
      box.SetComProperty(property);
      box.SetComPort(&port);
      box.SetAutoApply(autoApply);
      const std::string expected = autoApply ? pick : before;
      int changes = 0;
      box.OnChange = [&](TObject *sender) {
        EXPECT_EQ(sender, &box);
        EXPECT_EQ(ComPropertyText(port, property), expected); // OnChange comes after the write
        ++changes;
      };
      Pick(box, pick);
      EXPECT_EQ(ComPropertyText(port, property), expected);
      EXPECT_EQ(changes, 1);
      // The pick waits as the pending value.
      box.Select().ApplyPending();
      EXPECT_EQ(ComPropertyText(port, property), pick);
    }
  }
}

// Reopening on a port that cannot be opened, and line settings the device refuses.
struct TFailureCase {
  const char *Name;
  TComProperty Property;
  std::string Pick;
  std::function<void(TFakeSerialDevice &)> Break;
  std::string Message;
};

TEST(ComComboBox, failureWhileApplyingIsShownThePortClosedThePickKept) {
  const TFailureCase cases[] = {
      {"reopen", cpPort, "ttyGone", [](TFakeSerialDevice &d) { d.Fail(TFakeOp::Open, ENOENT); },
       "Unable to open com port (Error: 2)"},
      {"lineSettings", cpBaudRate, "57600", [](TFakeSerialDevice &d) { d.Fail(TFakeOp::SetCommState, EIO); },
       "SetCommState function failed (Error: 5)"},
  };
  for (const TFailureCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TShownErrors shown;
    TFakePort fake;
    fake.port->SetPort("ttyUSB0");
    fake.port->OpenPort();
    TComLed led;
    led.SetComPort(fake.port);
    ASSERT_EQ(led.State(), lsOn);
    TComComboBox box;
    box.SetPortLister([](std::vector<std::string> &list) { list = {"ttyGone", "ttyUSB0"}; });
    box.SetComProperty(c.Property);
    box.SetComPort(fake.port);
    box.SetAutoApply(true);
    int changes = 0;
    box.OnChange = [&](TObject *) { ++changes; };
    c.Break(*fake.device);
    Pick(box, c.Pick);
    ASSERT_EQ(shown.Messages.size(), 1u);
    // The first line; what follows depends on the ports of the machine.
    EXPECT_EQ(shown.Messages[0].substr(0, shown.Messages[0].find('\n')), c.Message);
    EXPECT_FALSE(fake.port->Connected());
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_EQ(box.Text(), c.Pick);
    EXPECT_EQ(changes, 0);
  }
}

// --- refill on drop-down ------------------------------------------------------------------------

TEST(ComComboBox, dropDownListsPortsAfreshKeepingTheSelection) {
  auto ports = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"ttyS0", "ttyUSB0"});
  TComComboBox box;
  box.SetPortLister(Lister(ports));
  box.SetComProperty(cpPort);
  box.SetText("ttyUSB0");

  *ports = {"ttyACM0", "ttyS0", "ttyUSB0"}; // a board plugged in after the start
  box.showPopup();
  box.hidePopup();
  EXPECT_EQ(Items(box), *ports);
  EXPECT_EQ(box.Text(), "ttyUSB0");

  *ports = {"ttyACM0", "ttyS0"}; // the selected adapter unplugged, no port bound
  box.showPopup();
  box.hidePopup();
  EXPECT_EQ(box.ItemIndex(), -1);
}

TEST(ComComboBox, dropDownSelectsTheBoundPortWhenTheSelectionIsGone) {
  auto ports = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"ttyS0"});
  TComPort port;
  port.SetPort("ttyUSB3");
  TComComboBox box;
  box.SetPortLister(Lister(ports));
  box.SetComProperty(cpPort);
  box.SetComPort(&port);
  ASSERT_EQ(box.ItemIndex(), -1);

  *ports = {"ttyS0", "ttyUSB3"};
  box.showPopup();
  box.hidePopup();
  EXPECT_EQ(Items(box), *ports);
  EXPECT_EQ(box.Text(), "ttyUSB3");
}

// --- removal notice -----------------------------------------------------------------------------

TEST(ComComboBox, destroyedPortUnbindsAndSelectsTheFirstItem) {
  auto *former = new TComPort;
  auto *port = new TComPort;
  port->SetBaudRate(br38400);
  TComComboBox box;
  box.SetComProperty(cpBaudRate);
  box.SetComPort(former);
  box.SetComPort(port);
  delete former; // no longer bound: its removal changes nothing
  EXPECT_EQ(box.ComPort(), port);
  EXPECT_EQ(box.Text(), "38400");
  delete port;
  EXPECT_EQ(box.ComPort(), nullptr);
  EXPECT_EQ(box.ItemIndex(), 0);
}

// --- the lamp: wiring and state -----------------------------------------------------------------

struct TSlots {
  bool Conn, CTS, DSR, RLSD, Ring, Rx, Tx;
  bool operator==(const TSlots &) const = default;
};

TSlots SlotsOf(const TComLink &link) {
  return {bool(link.OnConnChange), bool(link.OnCTSChange), bool(link.OnDSRChange), bool(link.OnRLSDChange),
          bool(link.OnRing),       bool(link.OnRxActivity), bool(link.OnTxActivity)};
}

TEST(ComLed, eachSignalSetsExactlyItsSlot) {
  struct {
    TComLedSignal Signal;
    TSlots Slots;
  } const cases[] = {
      {lsCTS, {false, true, false, false, false, false, false}},
      {lsDSR, {false, false, true, false, false, false, false}},
      {lsRLSD, {false, false, false, true, false, false, false}},
      {lsRing, {false, false, false, false, true, false, false}},
      {lsRx, {false, false, false, false, false, true, false}},
      {lsTx, {false, false, false, false, false, false, true}},
      {lsConn, {true, false, false, false, false, false, false}},
  };
  TComLed led;
  EXPECT_EQ(led.LedSignal(), lsConn);
  EXPECT_EQ(SlotsOf(led.Link()), cases[6].Slots);
  for (const auto &c : cases) {
    led.SetLedSignal(c.Signal);
    EXPECT_EQ(SlotsOf(led.Link()), c.Slots) << c.Signal;
  }
}

TEST(ComLed, followsOpenAndCloseThroughTheLink) {
  TFakePort fake;
  TComLed led;
  led.SetState(lsOn);
  std::vector<TLedState> changes;
  led.OnChange = [&](TObject *sender, TLedState state) {
    EXPECT_EQ(sender, &led);
    changes.push_back(state);
  };
  led.SetComPort(fake.port); // closed: the state stays
  EXPECT_EQ(led.State(), lsOn);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(fake.port->HasLink(&led.Link()));

  fake.port->OpenPort();
  EXPECT_EQ(led.State(), lsOn);
  fake.port->ClosePort();
  EXPECT_EQ(led.State(), lsOff);
  fake.port->OpenPort();
  EXPECT_EQ(led.State(), lsOn);
  EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOff, lsOn}));

  led.SetComPort(nullptr);
  EXPECT_EQ(led.State(), lsOff);
  EXPECT_FALSE(fake.port->HasLink(&led.Link()));
}

TEST(ComLed, bindingToAConnectedPortReadsTheSignal) {
  struct {
    TComLedSignal Signal;
    uint32_t Lines;
    TLedState Expected;
  } const cases[] = {
      {lsConn, 0, lsOn},
      {lsCTS, MS_CTS_ON, lsOn},
      {lsCTS, MS_DSR_ON | MS_RLSD_ON, lsOff},
      {lsDSR, MS_DSR_ON, lsOn},
      {lsDSR, MS_CTS_ON, lsOff},
      {lsRLSD, MS_RLSD_ON, lsOn},
      {lsRLSD, MS_CTS_ON | MS_DSR_ON, lsOff},
      {lsRing, MS_RING_ON | MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON, lsOff},
      {lsRx, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON, lsOff},
      {lsTx, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON, lsOff},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.Signal << " lines " << c.Lines);
    TFakePort fake;
    fake.port->OpenPort();
    fake.device->SetModemStatus(c.Lines, false);
    TComLed led;
    led.SetLedSignal(c.Signal);
    led.SetState(c.Expected == lsOn ? lsOff : lsOn); // the opposite, so the binding must set it
    int changes = 0;
    led.OnChange = [&](TObject *, TLedState) { ++changes; };
    led.SetComPort(fake.port);
    EXPECT_EQ(led.State(), c.Expected);
    EXPECT_EQ(changes, 1);
  }
}

TEST(ComLed, stateIsFailure19WhileBound) {
  TComPort port;
  TComLed led;
  std::vector<TLedState> changes;
  led.OnChange = [&](TObject *, TLedState state) { changes.push_back(state); };
  led.SetState(lsOn);
  led.SetState(lsOn); // announced also when unchanged
  EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOn}));

  led.SetComPort(&port);
  changes.clear();
  try {
    led.SetState(lsOff);
    FAIL() << "no failure";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.PortErrorCode(), 19);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
  }
  EXPECT_EQ(led.State(), lsOn);
  EXPECT_TRUE(changes.empty());
}

TEST(ComLed, destroyedPortTurnsTheLampOffAndUnbinds) {
  TFakePort fake;
  fake.port->OpenPort();
  TComLed led;
  led.SetComPort(fake.port);
  ASSERT_EQ(led.State(), lsOn);
  delete fake.port;
  fake.port = nullptr;
  EXPECT_EQ(led.ComPort(), nullptr);
  EXPECT_EQ(led.State(), lsOff);
  led.SetState(lsOn); // unbound again
  EXPECT_EQ(led.State(), lsOn);
}

TEST(ComLed, linkFollowsTheBindingAndLeavesWithTheLamp) {
  TComPort first;
  TComPort second;
  auto *led = new TComLed;
  const TComLink *link = &led->Link();
  led->SetComPort(&first);
  led->SetComPort(&second);
  EXPECT_FALSE(first.HasLink(link));
  EXPECT_TRUE(second.HasLink(link));
  delete led;
  EXPECT_FALSE(second.HasLink(link));
}

// --- ring ---------------------------------------------------------------------------------------

TEST(ComLed, ringLightsTheLampUntilTheRingTimerFires) {
  TFakePort fake(true);
  fake.port->OpenPort();
  TComLed led;
  led.SetLedSignal(lsRing);
  led.SetRingDuration(60000); // never due while the test runs: the test fires it
  led.SetComPort(fake.port);
  std::vector<TLedState> changes;
  led.OnChange = [&](TObject *, TLedState state) { changes.push_back(state); };
  ASSERT_EQ(led.State(), lsOff);

  fake.device->SetModemStatus(MS_RING_ON);
  fake.device->SetModemStatus(0); // the end of a ring raises the event
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return led.State() == lsOn; }));
  EXPECT_TRUE(led.RingTimer().isActive());
  EXPECT_EQ(led.RingTimer().interval(), 60000);

  QMetaObject::invokeMethod(&led.RingTimer(), "timeout");
  EXPECT_EQ(led.State(), lsOff);
  EXPECT_FALSE(led.RingTimer().isActive());
  EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOff}));
  fake.port->ClosePort();
}

TEST(ComLed, slotCalledOnTheEventThreadChangesTheLampOnTheGuiThread) {
  TFakePort fake(true);
  fake.port->SetSyncMethod(smNone);
  fake.port->OpenPort();
  TComLed led;
  led.SetLedSignal(lsCTS);
  led.SetComPort(fake.port);
  bool onGuiThread = false;
  led.OnChange = [&](TObject *, TLedState) { onGuiThread = IsGuiThread(); };
  fake.device->SetModemStatus(MS_CTS_ON);
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return led.State() == lsOn; }));
  EXPECT_TRUE(onGuiThread);
  fake.port->ClosePort();
}

TEST(ComLed, ringDurationIsTheTimersInterval) {
  struct {
    int32_t Duration;
    int Interval;
  } const cases[] = {{250, 250}, {0, 0}, {-5, 0}, {INT32_MAX, INT32_MAX}};
  for (const auto &c : cases) {
    TComLed led;
    led.SetRingDuration(c.Duration);
    EXPECT_EQ(led.RingDuration(), c.Duration);
    EXPECT_EQ(led.RingTimer().interval(), c.Interval);
  }
}

// --- pictures and painting ----------------------------------------------------------------------

const TLedKind BuiltInKinds[] = {lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb};

TEST(ComLed, builtInPicturesAreLampsOnATransparentGround) {
  std::set<qint64> distinct;
  for (TLedKind kind : BuiltInKinds) {
    for (TLedState state : {lsOff, lsOn}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " state " << state);
      const QImage picture = LedPicture(kind, state);
      ASSERT_EQ(picture.size(), QSize(15, 15));
      EXPECT_EQ(qAlpha(picture.pixel(0, 14)), 0);
      EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
      EXPECT_EQ(qAlpha(picture.pixel(7, 6)), 255);
      distinct.insert(picture.cacheKey());
      EXPECT_EQ(LedPicture(kind, state).cacheKey(), picture.cacheKey()); // drawn once
    }
    // The lit lamp is brighter at its centre than the unlit one.
    EXPECT_GT(qGray(LedPicture(kind, lsOn).pixel(7, 6)), qGray(LedPicture(kind, lsOff).pixel(7, 6))) << kind;
  }
  EXPECT_EQ(distinct.size(), 12u);
  EXPECT_TRUE(LedPicture(lkCustom, lsOn).isNull());
}

QImage Filled(int w, int h, QRgb colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

// A 15 × 15 picture: blue ground (the lower-left pixel) around a 5 × 5 square of `colour`.
QImage Glyph(QRgb colour) {
  QImage image = Filled(15, 15, qRgb(0, 0, 255));
  QPainter(&image).fillRect(5, 5, 5, 5, QColor::fromRgb(colour));
  return image;
}

TEST(ComLed, glyphIsTakenOnlyForCustomKind) {
  for (TLedKind kind : {lkRedLight, lkGreenLight, lkBulb, lkCustom}) {
    TComLed led;
    led.SetKind(kind);
    const QImage before = led.GlyphOn();
    led.SetGlyphOn(Glyph(qRgb(255, 0, 0)));
    led.SetGlyphOff(Glyph(qRgb(0, 255, 0)));
    if (kind != lkCustom) {
      EXPECT_EQ(led.GlyphOn().cacheKey(), before.cacheKey()) << kind;
      EXPECT_EQ(led.GlyphOff().cacheKey(), LedPicture(kind, lsOff).cacheKey()) << kind;
      continue;
    }
    EXPECT_EQ(led.GlyphOn().pixel(7, 7), qRgb(255, 0, 0));
    EXPECT_EQ(led.GlyphOff().pixel(7, 7), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(led.GlyphOn().pixel(0, 0)), 0); // the ground colour became transparent
  }
}

TEST(ComLed, pictureIsCentredButNeverOutside) {
  struct {
    TRect Client;
    int W, H;
    TPoint Expected;
  } const cases[] = {
      {Rect(0, 0, 25, 25), 15, 15, {5, 5}}, {Rect(0, 0, 16, 16), 15, 15, {0, 0}},
      {Rect(0, 0, 10, 40), 15, 15, {0, 12}}, {Rect(0, 0, 20, 30), 15, 15, {2, 7}},
      {Rect(3, 4, 28, 29), 15, 15, {8, 9}}, {Rect(3, 4, 8, 9), 15, 15, {3, 4}},
      {Rect(0, 0, 25, 25), 0, 0, {12, 12}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(LedPicturePos(c.Client, c.W, c.H), c.Expected)
        << c.Client.Left << "," << c.Client.Top << " " << c.Client.Width() << "x" << c.Client.Height();
}

QImage Render(TComLed &led) {
  QImage image = Filled(led.width(), led.height(), qRgb(255, 255, 255));
  // Without the window background: on a form the lamp shows its parent around the picture.
  led.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
  return image.convertToFormat(QImage::Format_RGB32);
}

// The picture composed on white at the centre of a 25 × 25 lamp.
QImage Expected(const QImage &picture) {
  QImage image = Filled(25, 25, qRgb(255, 255, 255));
  QPainter(&image).drawImage(5, 5, picture);
  return image;
}

TEST(ComLed, paintsThePictureOfItsStateCentredAndTransparent) {
  struct {
    TLedState State;
    bool Enabled;
    TLedState Shown;
  } const cases[] = {{lsOff, true, lsOff}, {lsOn, true, lsOn}, {lsOn, false, lsOff}, {lsOff, false, lsOff}};
  for (const auto &c : cases) {
    TComLed led;
    led.SetKind(lkGreenLight);
    led.SetState(c.State);
    led.setEnabled(c.Enabled);
    EXPECT_EQ(Render(led), Expected(LedPicture(lkGreenLight, c.Shown))) << c.State << c.Enabled;
    EXPECT_EQ(Render(led).pixel(0, 0), qRgb(255, 255, 255));
  }
}

TEST(ComLed, customGlyphsPaintWithTheirGroundLeftOut) {
  TComLed led;
  led.SetKind(lkCustom);
  led.SetGlyphOn(Glyph(qRgb(255, 0, 0)));
  led.SetGlyphOff(Glyph(qRgb(0, 128, 0)));
  led.SetState(lsOn);
  const QImage shown = Render(led);
  EXPECT_EQ(shown.pixel(12, 12), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(6, 6), qRgb(255, 255, 255)); // blue ground not drawn
  led.SetState(lsOff);
  EXPECT_EQ(Render(led).pixel(12, 12), qRgb(0, 128, 0));
}

// --- on a real line -----------------------------------------------------------------------------

TEST(ComControlsPty, baudBoxAppliesToTheOpenLine) {
  TPseudoTerminal pty;
  ASSERT_EQ(pty.Open(), 0);
  TComPort port;
  port.SetPort(pty.SlavePath());
  port.SetBaudRate(br19200);
  TComLed led;
  led.SetKind(lkGreenLight);
  led.SetComPort(&port);
  TComComboBox box;
  box.SetComProperty(cpBaudRate);
  box.SetAutoApply(true);
  box.SetComPort(&port);
  ASSERT_EQ(box.ItemIndex(), 9);

  port.OpenPort();
  EXPECT_EQ(led.State(), lsOn);
  Pick(box, "115200");
  EXPECT_EQ(port.BaudRate(), br115200);
  termios line{};
  // The master reads the settings of its slave.
  ASSERT_EQ(tcgetattr(pty.MasterFd(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
  port.ClosePort();
  EXPECT_EQ(led.State(), lsOff);
}

} // namespace
