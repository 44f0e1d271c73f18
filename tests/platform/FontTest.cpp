#include "platform/Font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Counter {
  int Calls = 0;
  TFont *Sender = nullptr;
  void Attach(TFont &f) {
    f.OnChange = [this](TFont *s) {
      ++Calls;
      Sender = s;
    };
  }
};

struct SetterCase {
  const char *Name;
  std::function<void(TFont &)> SetNew;
  std::function<void(TFont &)> SetSame;
  std::function<bool(const TFont &)> HasNew;
};

const std::vector<SetterCase> &SetterCases() {
  static const std::vector<SetterCase> cases{
      {"Name", [](TFont &f) { f.SetName("Arial"); }, [](TFont &f) { f.SetName("MS Sans Serif"); },
       [](const TFont &f) { return f.Name() == "Arial"; }},
      {"Height", [](TFont &f) { f.SetHeight(-20); }, [](TFont &f) { f.SetHeight(-11); },
       [](const TFont &f) { return f.Height() == -20; }},
      {"Size", [](TFont &f) { f.SetSize(14); }, [](TFont &f) { f.SetSize(8); },
       [](const TFont &f) { return f.Height() == -19; }},
      {"Style", [](TFont &f) { f.SetStyle(fsBold | fsItalic); }, [](TFont &f) { f.SetStyle(0); },
       [](const TFont &f) { return f.Style() == (fsBold | fsItalic); }},
      {"Color", [](TFont &f) { f.SetColor(clLime); }, [](TFont &f) { f.SetColor(clWindowText); },
       [](const TFont &f) { return f.Color() == clLime; }},
      {"Charset", [](TFont &f) { f.SetCharset(ANSI_CHARSET); }, [](TFont &f) { f.SetCharset(DEFAULT_CHARSET); },
       [](const TFont &f) { return f.Charset() == ANSI_CHARSET; }},
      {"Pitch", [](TFont &f) { f.SetPitch(fpFixed); }, [](TFont &f) { f.SetPitch(fpDefault); },
       [](const TFont &f) { return f.Pitch() == fpFixed; }},
  };
  return cases;
}

TEST(Font, defaultsAreEightPointSansSerif) {
  TFont f;
  EXPECT_EQ(f.Name(), "MS Sans Serif");
  EXPECT_EQ(f.Height(), -11);
  EXPECT_EQ(f.Size(), 8);
  EXPECT_EQ(f.Style(), 0);
  EXPECT_EQ(f.Color(), clWindowText);
  EXPECT_EQ(f.Pitch(), fpDefault);
}

TEST(Font, settersNotifyOnceOnChangeAndNeverWhenEqual) {
  for (const auto &c : SetterCases()) {
    SCOPED_TRACE(c.Name);
    TFont f;
    Counter n;
    n.Attach(f);
    c.SetSame(f);
    EXPECT_EQ(n.Calls, 0);
    c.SetNew(f);
    EXPECT_EQ(n.Calls, 1);
    EXPECT_EQ(n.Sender, &f);
    EXPECT_TRUE(c.HasNew(f));
    c.SetNew(f);
    EXPECT_EQ(n.Calls, 1);
  }
}

TEST(Font, assignCopiesEverythingAndNotifiesOnce) {
  TFont src;
  src.SetName("Courier New");
  src.SetHeight(-17);
  src.SetStyle(fsUnderline | fsStrikeOut);
  src.SetColor(clRed);
  src.SetCharset(ANSI_CHARSET);
  src.SetPitch(fpFixed);
  Counter srcHandler;
  srcHandler.Attach(src);

  TFont dst;
  Counter n;
  n.Attach(dst);
  dst.Assign(src);
  EXPECT_EQ(n.Calls, 1);
  EXPECT_TRUE(dst == src);
  EXPECT_EQ(dst.Name(), "Courier New");
  EXPECT_EQ(dst.Height(), -17);
  EXPECT_EQ(dst.Pitch(), fpFixed);

  dst.Assign(src);
  dst.Assign(dst);
  EXPECT_EQ(n.Calls, 1);
  dst.SetColor(clBlue);
  EXPECT_EQ(n.Calls, 2);
  EXPECT_EQ(srcHandler.Calls, 0); // the handler stays with its own font
}

// The Qt font is made once and kept; every change of a converted font must reach the next
// conversion as if the font had been made with the new value.
TEST(Font, aConvertedFontFollowsEveryLaterChange) {
  for (const auto &c : SetterCases()) {
    SCOPED_TRACE(c.Name);
    TFont changed, fresh;
    (void)changed.ToQFont(); // converted first: the change meets a kept conversion
    c.SetNew(changed);
    c.SetNew(fresh);
    EXPECT_EQ(changed.ToQFont(), fresh.ToQFont());
    EXPECT_EQ(changed.ToQFont().pixelSize(), fresh.ToQFont().pixelSize());
  }
  TFont src, dst;
  src.SetName("Courier New");
  src.SetHeight(-23);
  src.SetStyle(fsItalic);
  const QFont untouched = dst.ToQFont();
  dst.Assign(src);
  EXPECT_EQ(dst.ToQFont(), src.ToQFont());
  EXPECT_NE(dst.ToQFont(), untouched);
}

TEST(Font, sizeAndHeightConvertAtNinetySixDpi) {
  const std::vector<std::pair<int, int>> heightToSize{
      {-11, 8}, {-13, 10}, {-17, 13}, {-20, 15}, {-27, 20}, {0, 0}, {16, -12}, {-1, 1}, {-2, 2},
  };
  for (const auto &[h, s] : heightToSize) {
    TFont f;
    f.SetHeight(h);
    EXPECT_EQ(f.Size(), s) << h;
  }
  const std::vector<std::pair<int, int>> sizeToHeight{
      {8, -11}, {10, -13}, {14, -19}, {20, -27}, {0, 0}, {-12, 16}, {1, -1},
  };
  for (const auto &[s, h] : sizeToHeight) {
    TFont f;
    f.SetSize(s);
    EXPECT_EQ(f.Height(), h) << s;
  }
}

TEST(Font, extremeSizesSaturate) {
  TFont f;
  f.SetSize(INT_MAX);
  EXPECT_EQ(f.Height(), -INT_MAX);
  f.SetSize(INT_MIN);
  EXPECT_EQ(f.Height(), INT_MAX);
  EXPECT_EQ(f.Size(), -1610612735);
  f.SetHeight(INT_MIN);
  EXPECT_EQ(f.Size(), 1610612736);
  EXPECT_EQ(f.ToQFont().pixelSize(), 4096);
}

TEST(Font, negativeHeightIsThePixelSize) {
  const std::vector<std::pair<int, int>> cases{{-13, 13}, {-17, 17}, {-1, 1}, {0, 11}, {-100000, 4096}};
  for (const auto &[h, px] : cases) {
    TFont f;
    f.SetName("Arial");
    f.SetHeight(h);
    EXPECT_EQ(f.ToQFont().pixelSize(), px) << h;
  }
}

TEST(Font, positiveHeightIsTheCellHeight) {
  for (int cell : {8, 13, 20, 31, 64}) {
    for (const char *name : {"Arial", "Courier New", "System"}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(cell));
      TFont f;
      f.SetName(name);
      f.SetHeight(cell);
      const QFont q = f.ToQFont();
      const int got = QFontMetrics(q).height();
      EXPECT_LE(got, cell);
      EXPECT_GE(got, cell - 2);
      EXPECT_LT(q.pixelSize(), cell);
    }
  }
}

TEST(Font, stylesReachTheQtFont) {
  TFont f;
  f.SetName("Arial");
  QFont q = f.ToQFont();
  EXPECT_FALSE(q.bold() || q.italic() || q.underline() || q.strikeOut());
  f.SetStyle(fsBold | fsItalic | fsUnderline | fsStrikeOut);
  q = f.ToQFont();
  EXPECT_TRUE(q.bold() && q.italic() && q.underline() && q.strikeOut());
  f.SetStyle(fsItalic);
  q = f.ToQFont();
  EXPECT_FALSE(q.bold());
  EXPECT_TRUE(q.italic());
}

TEST(Font, systemFaceIsBold) {
  TFont f;
  f.SetName("System");
  EXPECT_TRUE(f.ToQFont().bold());
  EXPECT_EQ(f.ToQFont().family(), "DejaVu Sans");
}

TEST(Font, fixedPitchFontsAskForMonospace) {
  const std::vector<std::tuple<const char *, TFontPitch, bool>> cases{
      {"Courier New", fpDefault, true},
      {"Fixedsys", fpDefault, true},
      {"Arial", fpFixed, true},
      {"Arial", fpVariable, false},
      {"Arial", fpDefault, false},
  };
  for (const auto &[name, pitch, fixed] : cases) {
    SCOPED_TRACE(name);
    TFont f;
    f.SetName(name);
    f.SetPitch(pitch);
    const QFont q = f.ToQFont();
    EXPECT_EQ(q.fixedPitch(), fixed);
    EXPECT_EQ(q.styleHint() == QFont::Monospace, fixed);
  }
}

TEST(Font, windowsFacesMapToInstalledTwins) {
  const std::vector<std::pair<std::string, QString>> cases{
      {"Arial", "Liberation Sans"},
      {"arial", "Liberation Sans"},
      {"MS Sans Serif", "Liberation Sans"},
      {"Courier", "Liberation Mono"},
      {"Courier New", "Liberation Mono"},
      {"COURIER NEW", "Liberation Mono"},
      {"Times New Roman", "Liberation Serif"},
      {"System", "DejaVu Sans"},
      {"Fixedsys", "DejaVu Sans Mono"},
      {"Some Unknown Face", "Some Unknown Face"},
      {"DejaVu Serif", "DejaVu Serif"},
  };
  const QStringList installed = QFontDatabase::families();
  for (const auto &[name, family] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(MapFontFamily(name), family);
    if (name == "Some Unknown Face")
      continue;
    EXPECT_TRUE(installed.contains(family));
    TFont f;
    f.SetName(name);
    EXPECT_EQ(QFontInfo(f.ToQFont()).family(), family);
  }
}

} // namespace
