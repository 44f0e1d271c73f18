// The vertical meter drawn offscreen: the Show page's design meter, pointer rows, marker colours,
// TooSmall and its recovery, AutoSize, scale step limits, blinking, the cost of a value (full
// paints against compositions) and values no float range can break.
#include <cfloat>
#include <climits>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QWidget>
#include <gtest/gtest.h>

#include "instruments/AnFlashT.h"
#include "instruments/AnVMeter.h"
#include "instruments/AnValueText.h"
#include "platform/FramePacer.h"

namespace {

constexpr TAnVMeterOptions DesignOptions = OptionBit(opBevelInner) | OptionBit(opBevelOuter) | OptionBit(opValue) |
                                           OptionBit(opName1) | OptionBit(opName2) | OptionBit(opOverflow) |
                                           OptionBit(opUnit);
// Tall enough for the design meter's scale.
constexpr int TallHeight = 306;

void SetFont(TFont &f, const char *name, int height, TColor color) {
  f.SetName(name);
  f.SetHeight(height);
  f.SetColor(color);
}

// A meter with the Show page's design settings, loaded and visible inside `host`.
TAnVMeter *DesignMeter(QWidget &host, int number, int width, int height,
                       const std::function<void(TAnVMeter &)> &more = nullptr) {
  auto *m = new TAnVMeter(&host);
  m->SetBounds(0, 0, width, height);
  m->SetAutoSize(false);
  m->SetValue(50.0f);
  auto &sig = m->SignalSettings();
  sig.SetName1("SignalName1");
  sig.SetName2((number < 10 ? "#0" : "#") + std::to_string(number));
  sig.SetValueFormat("##0");
  sig.SetValueFrom(0.001f);
  sig.SetValueTo(100.0f);
  sig.SetValueUnit("%");
  m->MinMax().SetUseSectorCol(false);
  m->MinMax().SetMinVisible(false);
  m->MinMax().SetMaxVisible(false);
  m->SetOptions(DesignOptions);
  SetFont(m->Font(), "Arial", -13, clBlack);
  TFont valueFont;
  SetFont(valueFont, "System", -17, clLime);
  m->SetFontValue(valueFont);
  m->BevelInner().SetColor(clInfoBk);
  TFont scaleFont;
  SetFont(scaleFont, "Arial", -20, clBlack);
  m->ScaleSettings().SetFont(scaleFont);
  m->ScaleSettings().SetValueFormat("##0.0");
  if (more) more(*m);
  m->Loaded();
  m->SetVisible(true);
  return m;
}

// Renders the meter as its paint event draws it, over white.
QImage Render(TAnVMeter &m) {
  QImage img(m.size(), QImage::Format_ARGB32);
  img.fill(Qt::white);
  m.render(&img);
  return img;
}

TColor At(const QImage &img, int x, int y) {
  const QColor c = img.pixelColor(x, y);
  return RGBColor(c.red(), c.green(), c.blue());
}

bool IsLime(QColor c) { return c.green() > 180 && c.red() < 90 && c.blue() < 90; }
bool IsDark(QColor c) { return c.red() < 110 && c.green() < 110 && c.blue() < 110; }

QRect QtRect(const TRect &r) { return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)); }

int Count(const QImage &img, const TRect &r, bool (*pred)(QColor)) {
  int n = 0;
  for (int y = std::max(0, r.Top); y < std::min(img.height(), r.Bottom); ++y)
    for (int x = std::max(0, r.Left); x < std::min(img.width(), r.Right); ++x) n += pred(img.pixelColor(x, y)) ? 1 : 0;
  return n;
}

TRect WholeImage(const QImage &img) { return {0, 0, img.width(), img.height()}; }

TPointerFrame FrameOf(const TAnVMeter &m) {
  const TScaleSettings &s = m.ScaleSettings();
  return {m.BackRect(), s.ScaleTop, s.ScaleBottom, m.PointerBaseX(), s.TickLength, s.PosLeftTop()};
}

// A pixel well inside a triangle drawn relative to BackRect: its centroid.
TPoint Inside(const TAnVMeter &m, const TTriangle &t) {
  return {m.BackRect().Left + (t[0].X + t[1].X + t[2].X) / 3, m.BackRect().Top + (t[0].Y + t[1].Y + t[2].Y) / 3};
}

// Lets posted invalidations and the paints they cause run.
// One frame: what is pending, the frame pacer's turn (without waiting out its period), the paint.
void Frame() {
  QCoreApplication::processEvents();
  TFramePacer::Instance().Tick();
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// The blink service ticked by hand: its thread is stopped so that nothing else ticks.
TAnFlashTimer &ManualBlinkService() {
  TAnFlashTimer *s = BlinkService();
  EXPECT_NE(s, nullptr);
  s->SetEnabled(false);
  return *s;
}

// ---- The Show page's meter ---------------------------------------------------------------------

TEST(VMeterDesign, atItsDesignSizeDrawsCaptionsAndTheValueButNoScale) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, 73);
  const QImage img = Render(m);
  EXPECT_TRUE(m.TooSmall());
  EXPECT_EQ(m.FullPaintCount(), 1u);
  EXPECT_EQ(m.ValueRedrawCount(), 1u) << "the value text shows even without room for the scale";
  EXPECT_GT(Count(img, m.ValueRect(), IsLime), 20);
  EXPECT_EQ(Count(img, m.BackRect(), IsLime), 0) << "no pointer";

  const TVMeterLayout &l = m.Layout();
  const TVMeterExtents &e = m.Extents();
  const TRect name1{l.Name1Pos.X, l.Name1Pos.Y, l.Name1Pos.X + e.Name1Width, l.Name1Pos.Y + e.Name1Height};
  const TRect name2{l.Name2Pos.X, l.Name2Pos.Y, l.Name2Pos.X + e.Name2Width, l.Name2Pos.Y + e.Name2Height};
  EXPECT_GT(Count(img, name1, IsDark), 40) << "SignalName1";
  EXPECT_GT(Count(img, name2, IsDark), 15) << "#01";
  EXPECT_LT(name1.Bottom, name2.Bottom) << "Name1 stands above Name2";
  const TRect unit{l.UnitPos.X, l.UnitPos.Y, l.UnitPos.X + 20, l.UnitPos.Y + e.ValueHeight};
  EXPECT_GT(Count(img, unit, IsDark), 10) << "the unit";
  // The value box: black inside its lowered frame, the value text its only lime.
  const TRect inner = BevelContentRect(m.BevelValue(), l.ValueBox);
  const int black = Count(img, inner, [](QColor c) { return c == QColor(Qt::black); });
  EXPECT_GT(black, inner.Width() * inner.Height() / 2);
  EXPECT_EQ(Count(img, WholeImage(img), IsLime), Count(img, inner, IsLime));
}

// ---- Pointer and markers -----------------------------------------------------------------------

TEST(VMeterPointer, tipRowIsTheBottomTickAtZeroTheTopTickAtAThousandAndBetween) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  Render(m);
  const TScaleSettings &s = m.ScaleSettings();
  const float perMille = static_cast<float>(s.ScaleBottom - s.ScaleTop) / 1000.0f;
  const struct {
    float value;
    std::int32_t ppt;
    int tipY;
  } cases[] = {
      {0.001f, 0, s.ScaleBottom},
      {50.0f, 500, s.ScaleBottom - static_cast<int>(std::lrint(500 * perMille))},
      {100.0f, 1000, s.ScaleTop},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.ppt);
    m.SetValue(c.value);
    const QImage img = Render(m);
    EXPECT_EQ(m.PPT(), c.ppt);
    const TTriangle tip = m.PointerPoints();
    EXPECT_EQ(tip[2].Y, c.tipY);
    EXPECT_EQ(tip[2].X, m.PointerBaseX() + s.TickLength);
    EXPECT_EQ(At(img, tip[2].X, tip[2].Y), clBlack) << "outlined tip";
    EXPECT_EQ(At(img, tip[2].X - 4, tip[2].Y), clLime) << "filled pointer";
    const int a = s.TickLength / 2;
    EXPECT_EQ(Count(img, {tip[0].X, c.tipY - a - 6, tip[2].X + 1, c.tipY - a - 1}, IsLime), 0) << "nothing above";
    EXPECT_EQ(Count(img, {tip[0].X, c.tipY + a + 2, tip[2].X + 1, c.tipY + a + 6}, IsLime), 0) << "nothing below";
  }
}

TEST(VMeterPointer, markerColoursComeFromTheSectorsOnlyWhenAsked) {
  struct Case {
    const char *name;
    bool useSectorCol;
    std::int32_t sector1To;
    TColor min, max;
  };
  const Case cases[] = {
      {"sector colours", true, 333, clYellow, clRed},
      {"own colours", false, 333, clFuchsia, clBlue},
      {"no sector holds the minimum", true, 100, clFuchsia, clRed},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QWidget host;
    TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight, [&](TAnVMeter &mm) {
      mm.MinMax().SetMinVisible(true);
      mm.MinMax().SetMaxVisible(true);
      mm.MinMax().SetUseSectorCol(c.useSectorCol);
      mm.MinMax().SetMinColor(clFuchsia);
      mm.MinMax().SetMaxColor(clBlue);
      mm.SectorSettings().SetSector1To(c.sector1To);
    });
    Render(m);
    for (float v : {20.0f, 80.0f, 50.0f}) m.SetValue(v);
    const QImage img = Render(m);
    ASSERT_EQ(m.MinPPT(), 200);
    ASSERT_EQ(m.MaxPPT(), 800);
    const TPoint pmin = Inside(m, MinMarker(FrameOf(m), m.MinPPT()));
    const TPoint pmax = Inside(m, MaxMarker(FrameOf(m), m.MaxPPT()));
    EXPECT_EQ(At(img, pmin.X, pmin.Y), c.min);
    EXPECT_EQ(At(img, pmax.X, pmax.Y), c.max);
  }
}

TEST(VMeterPointer, sectorBandsLieBesideTheScaleLine) {
  QWidget host;
  TAnVMeter &m =
      *DesignMeter(host, 1, 116, TallHeight, [](TAnVMeter &mm) { mm.SetOptions(DesignOptions | OptionBit(opSector)); });
  m.SetValue(0.001f);
  const QImage img = Render(m);
  const TScaleSettings &s = m.ScaleSettings();
  const float perMille = static_cast<float>(s.ScaleBottom - s.ScaleTop) / 1000.0f;
  const int x = m.Layout().SectorRect.Right - 2;
  const std::pair<int, TColor> cases[] = {{250, clYellow}, {550, clGreen}, {850, clRed}};
  for (const auto &[ppt, colour] : cases)
    EXPECT_EQ(At(img, x, s.ScaleBottom - static_cast<int>(std::lrint(ppt * perMille))), colour) << ppt;
}

// ---- TooSmall, AutoSize, scale steps -----------------------------------------------------------

TEST(VMeterSize, tooSmallShowsTheValueButNoPointerAndEnlargingDrawsEverythingAgain) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, 73);
  Render(m);
  ASSERT_TRUE(m.TooSmall());
  m.SetValue(150.0f);
  const QImage over = Render(m);
  m.SetValue(73.0f);
  QImage img = Render(m);
  EXPECT_FALSE(m.Blinking()) << "no blinking without a scale";
  EXPECT_NE(over.copy(QtRect(m.ValueRect())), img.copy(QtRect(m.ValueRect())))
      << "the value text follows the values";
  EXPECT_EQ(Count(img, WholeImage(img), IsLime), Count(img, m.ValueRect(), IsLime)) << "lime only in the value";
  const std::uint64_t composed = m.ValueRedrawCount();

  m.SetBounds(0, 0, 116, TallHeight);
  img = Render(m);
  EXPECT_FALSE(m.TooSmall());
  EXPECT_EQ(m.ValueRedrawCount(), composed + 1);
  EXPECT_GT(Count(img, m.ValueRect(), IsLime), 20) << "the latest value shows";
  const TPoint p = Inside(m, PointerTriangle(FrameOf(m), m.PPT()));
  EXPECT_EQ(At(img, p.X, p.Y), clLime);

  m.SetBounds(0, 0, 116, 73);
  img = Render(m);
  EXPECT_TRUE(m.TooSmall());
  EXPECT_EQ(Count(img, m.BackRect(), IsLime), 0) << "the pointer is gone again";
}

// A value text wider than its box is drawn smaller, down to the legible minimum, and beyond
// that replaced by the overflow mark: the box never shows a cut-off, different number.
TEST(VMeterValueText, aTextTooWideIsDrawnSmallerOrAsTheOverflowMarkNeverCut) {
  enum TKind { Full, Shrunk, Overflow, Either };
  const struct {
    float Value;
    TKind Kind;
  } rows[] = {{50.0f, Full}, {-88.0f, Full}, {1000000.0f, Shrunk}, {-3e38f, Overflow}, {123456789012.0f, Either}};
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, 73);
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Value);
    m.SetValue(r.Value);
    const QImage img = Render(m);
    const TRect box = m.ValueRect();
    const QFont font = m.FontValue().ToQFont();
    const TValueTextFit fit = FitValueText(font, m.ValueText(), box.Width());
    if (r.Kind != Either) {
      EXPECT_EQ(fit.Shrunk, r.Kind == Shrunk);
      EXPECT_EQ(fit.Overflow, r.Kind == Overflow);
    }
    EXPECT_EQ(fit.Text, fit.Overflow ? std::string(ValueOverflowMark) : m.ValueText());
    EXPECT_GE(QFontInfo(fit.Font).pixelSize(), MinValuePixelSize);
    EXPECT_GT(Count(img, box, IsLime), 10) << "something shows";
    EXPECT_EQ(Count(img, WholeImage(img), IsLime), Count(img, box, IsLime));
  }
  // Any box width: the text drawn is the value text or the mark, and it fits.
  const QFont font = m.FontValue().ToQFont();
  for (const std::string text : {"1000000", "-300000000000000000000000000000000000000"}) {
    int lastSize = 0;
    for (int width = 0; width <= 200; ++width) {
      SCOPED_TRACE(text + " in " + std::to_string(width));
      const TValueTextFit fit = FitValueText(font, text, width);
      EXPECT_TRUE(fit.Text == text || (fit.Overflow && std::string(ValueOverflowMark).starts_with(fit.Text)));
      EXPECT_LE(QFontMetrics(fit.Font).horizontalAdvance(QString::fromStdString(fit.Text)), width);
      const int size = fit.Overflow ? 0 : QFontInfo(fit.Font).pixelSize();
      EXPECT_GE(size, lastSize) << "a wider box never draws the value smaller";
      lastSize = size;
    }
    EXPECT_EQ(FitValueText(font, text, 1000).Font, font);
  }
}

TEST(VMeterSize, autoSizeWidensTheMeterForALongerName1AtTheNextPaint) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight, [](TAnVMeter &mm) { mm.SetAutoSize(true); });
  Render(m);
  const int before = m.width();
  EXPECT_EQ(before, m.NeedWidth());
  EXPECT_EQ(m.height(), m.NeedHeight());
  m.SignalSettings().SetName1("A considerably longer signal name");
  EXPECT_EQ(m.width(), before) << "not before the paint";
  Render(m);
  EXPECT_GT(m.width(), before);
  EXPECT_EQ(m.width(), m.NeedWidth());
  EXPECT_EQ(m.width(), 2 * m.BevelOuter().Thickness() + m.Extents().Name1Width);
}

TEST(VMeterSize, autoSizeOnScreenResizesOnceAndShowsTheWholeMeter) {
  QWidget host;
  host.resize(400, 400);
  TAnVMeter &m = *DesignMeter(host, 1, 50, 50, [](TAnVMeter &mm) { mm.SetAutoSize(true); });
  host.show();
  Frame();
  EXPECT_EQ(m.width(), m.NeedWidth());
  EXPECT_EQ(m.height(), m.NeedHeight());
  EXPECT_FALSE(m.TooSmall());
  EXPECT_EQ(m.FullPaintCount(), 1u) << "the new size needs no second full paint";
  const QImage shown = host.grab(m.geometry()).toImage();
  const TPoint p = Inside(m, PointerTriangle(FrameOf(m), m.PPT()));
  EXPECT_EQ(At(shown, p.X, p.Y), clLime);
}

TEST(VMeterSize, widthHeightAndPositionStayWithinTheirBoundsWhereverTheyAreSet) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, 73);
  constexpr int Max = TAnVMeter::MaxSide, Far = TAnGraphicControl::MaxPosition;
  struct TCase {
    const char *Name;
    std::function<void(TAnVMeter &)> Set;
    QRect Want;
  };
  const TCase cases[] = {
      {"width and height beyond the bound", [](TAnVMeter &mm) { mm.SetBounds(5, 6, 30000, 16777215); }, {5, 6, Max, Max}},
      {"the bound itself", [](TAnVMeter &mm) { mm.SetBounds(5, 6, Max, Max); }, {5, 6, Max, Max}},
      {"negative sizes", [](TAnVMeter &mm) { mm.SetBounds(5, 6, -1, INT_MIN); }, {5, 6, 0, 0}},
      {"width alone", [](TAnVMeter &mm) { mm.SetWidth(INT_MAX); }, {5, 6, Max, 0}},
      {"height alone", [](TAnVMeter &mm) { mm.SetHeight(INT_MAX); }, {5, 6, Max, Max}},
      {"positions at the ends of int", [](TAnVMeter &mm) { mm.SetBounds(INT_MAX, INT_MIN, 116, 73); }, {Far, -Far, 116, 73}},
      {"left alone", [](TAnVMeter &mm) { mm.SetLeft(INT_MIN); }, {-Far, -Far, 116, 73}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    c.Set(m);
    EXPECT_EQ(m.geometry(), c.Want);
  }
  // AutoSize asks for what the content needs, within the same bound.
  m.SetBounds(0, 0, 116, 73);
  m.SetAutoSize(true);
  m.SignalSettings().SetName1(std::string(5000, 'W'));
  Render(m);
  EXPECT_EQ(m.width(), Max);
}

TEST(VMeterSize, stepsOutsideTheirBoundsChangeNothingAndCostNoPaint) {
  struct Case {
    const char *name;
    std::function<void(TScaleSettings &)> write;
    bool repaints;
    const char *labels;
  };
  const Case cases[] = {
      {"Steps 0", [](auto &s) { s.SetSteps(0); }, false, "100.0;80.0;60.0;40.0;20.0;0.0;"},
      {"Steps 25", [](auto &s) { s.SetSteps(25); }, false, "100.0;80.0;60.0;40.0;20.0;0.0;"},
      {"SubSteps 11", [](auto &s) { s.SetSubSteps(11); }, false, "100.0;80.0;60.0;40.0;20.0;0.0;"},
      {"SubSteps 0", [](auto &s) { s.SetSubSteps(0); }, false, "100.0;80.0;60.0;40.0;20.0;0.0;"},
      {"Steps 4", [](auto &s) { s.SetSteps(4); }, true, "100.0;75.0;50.0;25.0;0.0;"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QWidget host;
    TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
    Render(m);
    c.write(m.ScaleSettings());
    Render(m);
    EXPECT_EQ(m.FullPaintCount(), c.repaints ? 2u : 1u);
    EXPECT_EQ(m.ScaleSettings().LabelList, c.labels);
  }
}

// ---- Blinking ----------------------------------------------------------------------------------

TEST(VMeterBlink, anOverflowingPointerAlternatesRedAndYellowEverySixteenTicks) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  host.show();
  Render(m);
  m.SetValue(150.0f);
  ASSERT_TRUE(m.Blinking());
  EXPECT_EQ(m.PPT(), 1000) << "at the top of the scale";
  TAnFlashTimer &service = ManualBlinkService();

  std::vector<std::uint32_t> flips;
  std::vector<TColor> colours;
  TColor last = m.BlinkColor();
  for (int i = 0; i < 80; ++i) {
    service.BlinkTick();
    if (m.BlinkColor() == last) continue;
    last = m.BlinkColor();
    flips.push_back(service.TickCounter());
    colours.push_back(last);
    const QImage img = Render(m);
    const TPoint p = Inside(m, PointerTriangle(FrameOf(m), m.PPT()));
    EXPECT_EQ(At(img, p.X, p.Y), last);
  }
  ASSERT_GE(flips.size(), 4u);
  for (std::size_t i = 1; i < flips.size(); ++i) {
    EXPECT_EQ(flips[i] - flips[i - 1], 16u);
    EXPECT_NE(colours[i], colours[i - 1]);
    EXPECT_TRUE(colours[i] == clRed || colours[i] == clYellow);
  }

  m.SetValue(50.0f);
  EXPECT_FALSE(m.Blinking());
  const QImage img = Render(m);
  const TPoint p = Inside(m, PointerTriangle(FrameOf(m), m.PPT()));
  EXPECT_EQ(At(img, p.X, p.Y), clLime) << "the pointer colour again";
  EXPECT_EQ(BlinkClientCount(), 0);
}

TEST(VMeterBlink, theDecisionFollowsOverflowLimitAndTheirOptions) {
  struct Case {
    const char *name;
    TAnVMeterOptions options;
    float value;
    bool blinking;
    bool ticksRecolour;
  };
  const TAnVMeterOptions limitOnly = (DesignOptions & ~OptionBit(opOverflow)) | OptionBit(opLimit);
  const Case cases[] = {
      {"overflow", DesignOptions, 150.0f, true, true},
      {"underflow", DesignOptions, -5.0f, true, true},
      {"in range", DesignOptions, 95.0f, false, false},
      {"overflow not shown", DesignOptions & ~OptionBit(opOverflow), 150.0f, false, false},
      {"limit shown", DesignOptions | OptionBit(opLimit), 95.0f, true, true},
      // Registered, but the tick recolours only with opOverflow.
      {"limit without overflow", limitOnly, 95.0f, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QWidget host;
    TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight, [&](TAnVMeter &mm) { mm.SetOptions(c.options); });
    host.show();
    Render(m);
    m.SetValue(c.value);
    EXPECT_EQ(m.Blinking(), c.blinking);
    EXPECT_EQ(BlinkClientCount(), c.blinking ? 1 : 0);
    if (!c.blinking) continue;
    TAnFlashTimer &service = ManualBlinkService();
    // Within 40 ticks the state flips at least twice, so the colour changes at least once.
    const TColor before = m.BlinkColor();
    bool recoloured = false;
    for (int i = 0; i < 40; ++i) {
      service.BlinkTick();
      recoloured = recoloured || m.BlinkColor() != before;
    }
    EXPECT_EQ(recoloured, c.ticksRecolour);
  }
  EXPECT_EQ(BlinkClientCount(), 0) << "a destroyed meter leaves the service";
}

// Only a meter on screen costs the service ticks; hidden, it keeps its blink state for later.
TEST(VMeterBlink, theServiceServesAMeterOnlyWhileItBlinksOnScreen) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  Render(m);
  struct Step {
    const char *what;
    std::function<void()> act;
    bool blinking;
    bool registered;
  };
  const Step steps[] = {
      {"out of range, never shown", [&] { m.SetValue(150.0f); }, true, false},
      {"shown", [&] { host.show(); }, true, true},
      {"parent hidden", [&] { host.hide(); }, true, false},
      {"shown again", [&] { host.show(); }, true, true},
      {"meter itself hidden", [&] { m.SetVisible(false); }, true, false},
      {"back in range while hidden", [&] { m.SetValue(50.0f); }, false, false},
      {"meter shown", [&] { m.SetVisible(true); }, false, false},
      {"out of range on screen", [&] { m.SetValue(-5.0f); }, true, true},
      {"back in range on screen", [&] { m.SetValue(50.0f); }, false, false},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(m.Blinking(), s.blinking);
    EXPECT_EQ(BlinkClientCount(), s.registered ? 1 : 0);
    if (TAnFlashTimer *service = BlinkService()) {
      EXPECT_EQ(service->Resting(), !s.registered);
    }
  }
}

TEST(VMeterBlink, aLimitChangeWhileOverflowingKeepsItBlinking) {
  QWidget host;
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  Render(m);
  m.SetValue(150.0f);
  ASSERT_TRUE(m.Blinking());
  m.SetLimitUpper(200.0f); // the upper limit is no longer exceeded, the range still is
  EXPECT_TRUE(m.Blinking());
  m.SetValue(60.0f);
  EXPECT_FALSE(m.Blinking());
}

// ---- The cost of a value -----------------------------------------------------------------------

// Records the region of every paint event of the watched widget.
class TPaintRecorder : public QObject {
public:
  std::vector<QRegion> Regions;
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() == QEvent::Paint) Regions.push_back(static_cast<QPaintEvent *>(e)->region());
    return false;
  }
};

TEST(VMeterCost, aThousandValuesBetweenTwoFramesCostOneCompositionAndNoFullPaint) {
  QWidget host;
  host.resize(200, 400);
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  host.show();
  Frame();
  ASSERT_EQ(m.FullPaintCount(), 1u);
  const std::uint64_t composed = m.ValueRedrawCount();
  TPaintRecorder rec;
  m.installEventFilter(&rec);

  // All over the scale, ending next to where the pointer stands.
  for (int i = 0; i < 999; ++i) m.SetValue(static_cast<float>(i * 37 % 100) + 0.25f);
  m.SetValue(52.0f);
  EXPECT_EQ(m.FullPaintCount(), 1u);
  EXPECT_EQ(m.ValueRedrawCount(), composed) << "a value write never paints by itself";
  Frame();
  EXPECT_EQ(m.FullPaintCount(), 1u);
  EXPECT_EQ(m.ValueRedrawCount(), composed + 1);
  ASSERT_EQ(rec.Regions.size(), 1u);
  // Only the value text and the pointer's old and new places were repainted.
  const QRegion allowed = QRegion(m.ValueRect().ToQRect()) | QRegion(m.BackRect().ToQRect());
  EXPECT_TRUE((rec.Regions[0] - allowed).isEmpty());
  EXPECT_LT((rec.Regions[0] - QRegion(m.ValueRect().ToQRect())).boundingRect().height(), m.BackRect().Height() / 4)
      << "the pointer's places before and after, not the places in between";
  Frame();
  EXPECT_EQ(m.ValueRedrawCount(), composed + 1) << "nothing more to do";
}

// A steady signal at a high rate: a frame whose values draw the same text, pointer and markers
// as the last composition invalidates nothing; anything that shows differently is painted.
TEST(VMeterCost, aFrameThatWouldDrawWhatIsShownPaintsNothing) {
  QWidget host;
  host.resize(200, 400);
  // Format "##0"; without blinking, so that no blink tick recolours the pointer between the steps.
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight,
                              [](TAnVMeter &v) { v.SetOptions(DesignOptions & ~OptionBit(opOverflow)); });
  host.show();
  m.SetValue(52.0f);
  Frame();
  struct Step {
    float Value;
    bool Paints;
    const char *Why;
  };
  const Step steps[] = {
      {52.00001f, false, "same text, same pointer position"},
      {52.3f, true, "the pointer moves, the text stays 52"},
      {52.30001f, false, "same again"},
      {52.6f, true, "the text turns 53"},
      {150.0f, true, "out of range: the pointer stands at the top"},
      {150.2f, false, "still at the top, same text"},
      {52.6f, true, "back in range"},
  };
  TPaintRecorder rec;
  m.installEventFilter(&rec);
  for (const Step &s : steps) {
    SCOPED_TRACE(s.Why);
    const std::uint64_t composed = m.ValueRedrawCount();
    const std::size_t paints = rec.Regions.size();
    m.SetValue(s.Value);
    Frame();
    EXPECT_EQ(m.ValueRedrawCount(), composed + (s.Paints ? 1 : 0));
    EXPECT_EQ(rec.Regions.size(), paints + (s.Paints ? 1 : 0));
  }
}

TEST(VMeterCost, valuesWaitForTheNextFrameAndAMeterMayGoWhileWaiting) {
  TFramePacer &pacer = TFramePacer::Instance();
  struct TRestore {
    TFramePacer &P;
    ~TRestore() { P.SetPeriod(TFramePacer::DefaultPeriod); }
  } restore{pacer};
  QWidget host;
  host.resize(300, 400);
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  auto *gone = DesignMeter(host, 2, 116, TallHeight);
  gone->SetLeft(120);
  host.show();
  Frame();
  // A frame was just served; with a long period the next one only comes when the test says so.
  pacer.SetPeriod(std::chrono::hours(1));
  const std::uint64_t composed = m.ValueRedrawCount();
  m.SetValue(10.0f);
  gone->SetValue(10.0f);
  EXPECT_TRUE(pacer.IsPending(&m));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(m.ValueRedrawCount(), composed) << "drawn before its frame";
  delete gone;
  EXPECT_EQ(pacer.PendingCount(), 1u);
  Frame();
  EXPECT_EQ(m.ValueRedrawCount(), composed + 1);
}

TEST(VMeterCost, fullPaintsFollowOnlyTheirTriggers) {
  struct Case {
    const char *name;
    std::function<void(TAnVMeter &)> change;
    std::uint64_t fullPaints;
  };
  const Case cases[] = {
      {"signal settings", [](TAnVMeter &m) { m.SignalSettings().SetName1("Druck"); }, 1},
      {"sector settings", [](TAnVMeter &m) { m.SectorSettings().SetSector2Color(clBlue); }, 1},
      {"scale settings", [](TAnVMeter &m) { m.ScaleSettings().SetColor(clNavy); }, 1},
      {"font", [](TAnVMeter &m) { m.Font().SetHeight(-12); }, 1},
      {"bevel", [](TAnVMeter &m) { m.BevelOuter().SetWidth(3); }, 1},
      {"LogScale", [](TAnVMeter &m) { m.SetLogScale(true); }, 1},
      {"AutoSize", [](TAnVMeter &m) { m.SetAutoSize(false); }, 1},
      {"FontValue", [](TAnVMeter &m) { m.SetFontValue(m.FontValue()); }, 1},
      {"Options", [](TAnVMeter &m) { m.SetOptions(m.Options()); }, 1},
      {"size", [](TAnVMeter &m) { m.SetBounds(0, 0, 120, TallHeight + 10); }, 1},
      // Min/max settings go to the value update: markers are composed, not painted.
      {"min/max settings", [](TAnVMeter &m) { m.MinMax().SetMinVisible(true); }, 0},
      {"value", [](TAnVMeter &m) { m.SetValue(12.0f); }, 0},
      {"limit", [](TAnVMeter &m) { m.SetLimitUpper(20.0f); }, 0},
      {"move", [](TAnVMeter &m) { m.SetLeft(30); }, 0},
      {"Steps out of bounds", [](TAnVMeter &m) { m.ScaleSettings().SetSteps(21); }, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QWidget host;
    host.resize(200, 400);
    TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
    host.show();
    Frame();
    const std::uint64_t full = m.FullPaintCount();
    c.change(m);
    Frame();
    EXPECT_EQ(m.FullPaintCount(), full + c.fullPaints);
  }
}

TEST(VMeterCost, aHiddenMeterComposesNothing) {
  QWidget host;
  host.resize(200, 400);
  TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight);
  host.show();
  Frame();
  const std::uint64_t composed = m.ValueRedrawCount();
  m.SetVisible(false);
  m.SetValue(12.0f);
  Frame();
  EXPECT_EQ(m.ValueRedrawCount(), composed);
  m.SetVisible(true);
  Frame();
  EXPECT_EQ(m.ValueRedrawCount(), composed + 1) << "shown again, it shows the latest value";
}

// ---- Values no range can break -----------------------------------------------------------------

TEST(VMeterFloats, everyValueOnEveryRangeDrawsInsideTheScale) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {inf, -inf, nan, FLT_MAX, -FLT_MAX, 1e30f, -1e30f, FLT_TRUE_MIN, 0.0f, 50.0f};
  struct Range {
    const char *name;
    float from, to;
    bool log;
    std::int32_t digitalTo;
  };
  const Range ranges[] = {
      {"design", 0.001f, 100.0f, false, 1000},      {"reversed", 100.0f, 0.001f, false, 1000},
      {"widest", -FLT_MAX, FLT_MAX, false, 1000},   {"to infinity", 0.0f, inf, false, 1000},
      {"from -infinity", -inf, 0.0f, false, 1000},  {"tiny to huge, log", 1e-30f, 1e30f, true, 1000},
      {"reversed log", 100.0f, 0.001f, true, 1000}, {"empty digital range", 0.001f, 100.0f, false, 0},
  };
  for (const Range &r : ranges) {
    SCOPED_TRACE(r.name);
    QWidget host;
    TAnVMeter &m = *DesignMeter(host, 1, 116, TallHeight, [&](TAnVMeter &mm) {
      mm.MinMax().SetMinVisible(true);
      mm.MinMax().SetMaxVisible(true);
      // Out of the way first: a bound equal to the other one would be refused.
      mm.SignalSettings().SetValueTo(1e7f);
      mm.SignalSettings().SetValueFrom(-1e7f);
      mm.SignalSettings().SetValueFrom(r.from);
      mm.SignalSettings().SetValueTo(r.to);
      mm.SignalSettings().SetDigitalTo(r.digitalTo);
      mm.SetLogScale(r.log);
    });
    Render(m);
    for (float v : values) {
      SCOPED_TRACE(v);
      m.SetValue(v);
      Render(m);
      EXPECT_GE(m.PPT(), 0);
      EXPECT_LE(m.PPT(), 1000);
      if (m.TooSmall()) continue;
      const int a = m.ScaleSettings().TickLength / 2;
      const TTriangle p = m.PointerPoints();
      EXPECT_GE(p[1].Y, m.BackRect().Top - a);
      EXPECT_LE(p[0].Y, m.BackRect().Bottom + a);
    }
  }
}

} // namespace
