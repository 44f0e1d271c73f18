// The numeric edit field, driven through key events in a shown window.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include "instruments/AnNumEdit.h"
#include "platform/Application.h"
#include "platform/FormatSettings.h"

namespace {

class TCountingNumEdit : public TAnNumEdit {
public:
  using TAnNumEdit::TAnNumEdit;
  int Beeps = 0;

protected:
  void Beep() override { ++Beeps; }
};

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double Keep = -12345; // marks "value unchanged"

class AnNumEditTest : public ::testing::Test {
protected:
  std::vector<std::string> Errors;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Errors.push_back(m); });
  QWidget Window;
  TCountingNumEdit *Edit = new TCountingNumEdit(&Window);
  QLineEdit *Other = new QLineEdit(&Window);
  QLabel *Label = new QLabel(QStringLiteral("Anzeige Wert bis"), &Window);

  AnNumEditTest() {
    auto *l = new QVBoxLayout(&Window);
    l->addWidget(Label), l->addWidget(Edit), l->addWidget(Other);
    Label->setBuddy(Edit);
    Edit->setObjectName("AnNumEditTest");
    Edit->Loaded();
    Window.show();
    QApplication::setActiveWindow(&Window);
  }
  ~AnNumEditTest() override { SetExceptionSink(PreviousSink); }

  // Clears the field and types `text` as a user would.
  void Type(const std::string &text) {
    Edit->setFocus();
    QTest::keyClick(Edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Edit, Qt::Key_Backspace);
    QTest::keyClicks(Edit, QString::fromStdString(text));
  }
};

enum TOutcome { Taken, Reported, Refused };

TEST_F(AnNumEditTest, typedEntriesAreTakenOverReportedOrRefusedWithTheBadStretchSelected) {
  const std::string ones40(40, '1'), ones32(32, '1'), digits400(400, '9');
  const struct {
    TEditBase Base;
    std::string Typed;
    TOutcome Outcome;
    double Value;         // Keep: the value before stays
    const char *Text;     // after Enter; nullptr: not checked
    int SelStart = 0, SelLen = 0; // the refused stretch
  } rows[] = {
      {ebFloat, "12,5", Taken, 12.5, "12,5"},
      {ebFloat, "1.000,5", Taken, 1000.5, "1000,5"},
      {ebFloat, "2k", Taken, 2000, "2000"},
      {ebFloat, "5m", Taken, 5 * static_cast<double>(0.001f), "0"},
      {ebFloat, "1E", Taken, static_cast<double>(1e18f), nullptr}, // E as the exa prefix
      {ebFloat, "$FF", Taken, 255, "255"},
      {ebFloat, "&101", Taken, 5, "5"},
      {ebFloat, "-", Taken, 0, "0"},
      {ebFloat, "E3", Taken, 1000, "1000"},
      {ebFloat, "&" + ones32, Taken, -1, "-1"},
      {ebFloat, "$FFFFFFFF", Taken, -1, "-1"},
      {ebInt, "2147483647", Taken, 2147483647, "2147483647"},
      {ebInt, "-2147483648", Taken, -2147483647, "-2147483647"},
      {ebInt, "!2,5", Taken, 2.5, "2"},
      // Numbers beyond what the base holds are clamped to its range.
      {ebFloat, digits400, Taken, 1.7e308, nullptr},
      {ebFloat, "E999999", Taken, 1.7e308, nullptr},
      {ebFloat, "1e309", Taken, 1.7e308, nullptr},
      {ebFloat, "1,8e308", Taken, 1.7e308, nullptr},
      {ebFloat, "E705", Taken, 1.7e308, nullptr},
      {ebFloat, "-E705", Taken, -1.7e308, nullptr},
      {ebFloat, "-E3", Taken, -1000, "-1000"},
      {ebFloat, "-1e400", Taken, -1.7e308, nullptr},
      {ebFloat, "1e308k", Taken, 1.7e308, nullptr},
      {ebFloat, "&" + ones40, Taken, 2147483647, nullptr},
      {ebFloat, "$FFFFFFFFF", Taken, 2147483647, nullptr},
      {ebBin, "1" + std::string(33, '0'), Taken, 2147483647, nullptr},
      {ebBin, std::string(40, '0') + "101", Taken, 5, "101"},
      {ebInt, digits400, Taken, 2147483647, nullptr},
      {ebInt, "-" + digits400, Taken, -2147483647, nullptr},
      {ebInt, "2147483649", Taken, 2147483647, nullptr},
      // Allowed characters that make no number.
      {ebFloat, "1e", Reported, Keep, nullptr},
      {ebFloat, "1e+", Reported, Keep, nullptr},
      // Refused characters (pasted at once, so that typing on does not replace the selection),
      // selected from the first to the last refused position.
      {ebFloat, "1,2,3", Refused, Keep, nullptr, 3, 1}, // the second decimal comma
      {ebFloat, "1,2,3x", Refused, Keep, nullptr, 3, 3},
      {ebFloat, ",,-", Refused, Keep, nullptr, 1, 2},
      {ebFloat, "a,b,c", Refused, Keep, nullptr, 0, 5},
      {ebFloat, "12ab3", Refused, Keep, nullptr, 2, 2},
      {ebFloat, "1-2", Refused, Keep, nullptr, 1, 1},
      {ebInt, "5m", Refused, Keep, nullptr, 1, 1}, // no fractions of a unit in an integer
      {ebInt, "1,5", Refused, Keep, nullptr, 1, 1},
      {ebFloat, "7\u00e4", Refused, Keep, nullptr, 1, 1},
  };
  ScopedFormatSettings fs(',', '.');
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Typed);
    Edit->SetEditBase(r.Base);
    Edit->SetValue(Keep);
    Errors.clear();
    Edit->Beeps = 0;
    if (r.Outcome == Refused) {
      QApplication::clipboard()->setText(QString::fromUtf8(r.Typed.c_str()));
      Type("");
      QTest::keySequence(Edit, QKeySequence::Paste);
      EXPECT_EQ(Edit->State(), esError);
      EXPECT_EQ(Edit->Color(), Edit->ColorError());
      EXPECT_GE(Edit->Beeps, 1);
      EXPECT_EQ(Edit->selectionStart(), r.SelStart);
      EXPECT_EQ(Edit->selectedText().size(), r.SelLen);
    } else {
      Type(r.Typed);
      EXPECT_EQ(Edit->State(), esEditing);
    }
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Edit->Value(), r.Value);
    EXPECT_EQ(Edit->State(), r.Outcome == Taken ? esNormal : esError);
    EXPECT_TRUE(!r.Text || Edit->text().toStdString() == r.Text) << Edit->text().toStdString();
    EXPECT_EQ(Errors.size(), r.Outcome == Reported ? 1u : 0u);
    if (r.Outcome == Reported) {
      // The field as the user knows it: by its label, not by its component name.
      EXPECT_NE(Errors[0].find("„Anzeige Wert bis“"), std::string::npos) << Errors[0];
      EXPECT_EQ(Errors[0].find("AnNumEditTest"), std::string::npos) << Errors[0];
      EXPECT_NE(Errors[0].find(r.Typed.substr(0, 12)), std::string::npos) << Errors[0];
    }
  }
}

// A thousands separator counts only between groups of three digits of the integer part; anywhere
// else it is refused on Enter, selected with any other refused character.
TEST_F(AnNumEditTest, thousandsSeparatorsOnlyBetweenGroupsOfThree) {
  const struct {
    char Decimal, Thousands;
    TEditBase Base;
    const char *Typed;
    double Value; // Keep: refused
    int SelStart = 0, SelLen = 0;
  } rows[] = {
      {'.', ',', ebFloat, "0,5", Keep, 1, 1},
      {'.', ',', ebFloat, "1,000", 1000},
      {'.', ',', ebFloat, "-12,345,678.25", -12345678.25},
      {'.', ',', ebFloat, "1,00", Keep, 1, 1},
      {'.', ',', ebFloat, "1,0000", Keep, 1, 1},
      {'.', ',', ebFloat, "1000,000", Keep, 4, 1},
      {'.', ',', ebFloat, ",100", Keep, 0, 1},
      {'.', ',', ebFloat, "1,000,00", Keep, 5, 1},
      {'.', ',', ebFloat, "1.000,5", Keep, 5, 1}, // in the fraction
      {'.', ',', ebFloat, "1e1,000", Keep, 3, 1}, // in the exponent
      {'.', ',', ebFloat, "1,000k", 1e6},
      {'.', ',', ebInt, "2,147,483,647", 2147483647},
      {'.', ',', ebInt, "1,5", Keep, 1, 1},
      {'.', ',', ebInt, "%1,5,0", Keep, 2, 3},
      {',', '.', ebFloat, "0,5", 0.5},
      {',', '.', ebFloat, "1.000", 1000},
      {',', '.', ebFloat, "1.5", Keep, 1, 1},
      {',', '.', ebFloat, "1.2.3", Keep, 1, 3},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(std::string(r.Typed) + " under " + r.Decimal);
    ScopedFormatSettings fs(r.Decimal, r.Thousands);
    Edit->SetEditBase(r.Base);
    Edit->SetValue(Keep);
    Errors.clear();
    Edit->Beeps = 0;
    Type(r.Typed);
    EXPECT_EQ(Edit->State(), esEditing) << "a separator on its way to a group is no error yet";
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Edit->Value(), r.Value);
    EXPECT_TRUE(Errors.empty());
    if (r.Value == Keep) {
      EXPECT_EQ(Edit->State(), esError);
      EXPECT_EQ(Edit->Beeps, 1);
      EXPECT_EQ(Edit->selectionStart(), r.SelStart);
      EXPECT_EQ(Edit->selectedText().size(), r.SelLen);
    } else {
      EXPECT_EQ(Edit->State(), esNormal);
    }
  }
}

TEST_F(AnNumEditTest, arrowsStepWithinLimitsAndReportEachLimitChangeOnce) {
  int limits = 0, changes = 0;
  Edit->OnLimit = [&](TObject *) { ++limits; };
  Edit->OnChange = [&](TObject *) { ++changes; };
  Edit->SetMaxValue(10);
  Edit->SetMinValue(-1);
  Edit->SetOptions(eoLimitMax | eoLimitMin);
  Edit->SetValue(9.5);
  limits = changes = 0;
  Edit->setFocus();
  QTest::keyClick(Edit, Qt::Key_Up);
  EXPECT_EQ(Edit->Value(), 10);
  EXPECT_EQ(limits + changes, 2);
  QTest::keyClick(Edit, Qt::Key_Up);
  EXPECT_EQ(Edit->Value(), 10);
  EXPECT_EQ(Edit->Beeps, 1);
  for (int i = 0; i < 12; ++i) QTest::keyClick(Edit, Qt::Key_Down);
  EXPECT_EQ(Edit->text(), "-1");
  EXPECT_EQ(limits, 3); // left the top, reached the bottom

  Edit->SetOptions(eoMultiply);
  Edit->SetIncrement(2);
  Edit->SetValue(3);
  QTest::keyClick(Edit, Qt::Key_Up);
  EXPECT_EQ(Edit->Value(), 6);
  QTest::keyClick(Edit, Qt::Key_Down); // a switched-off limit no longer blocks
  EXPECT_EQ(Edit->Value(), 3);
  Edit->SetValue(0);
  QTest::keyClick(Edit, Qt::Key_Up); // nothing to multiply: the step adds
  EXPECT_EQ(Edit->Value(), 2);

  Edit->SetOptions(eoLimitMax);
  Edit->SetMaxValue(100);
  Edit->SetEditBase(ebInt);
  Type("2147483647");
  QTest::keyClick(Edit, Qt::Key_Return);
  EXPECT_EQ(Edit->Value(), 100);
  EXPECT_EQ(Edit->text(), "100");
}

TEST_F(AnNumEditTest, limitsSetAsAPairClampTheValueOnceAgainstTheWholePair) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Edit->SetValue(200);
  struct TCase {
    const char *Name;
    double Min, Max;
    bool Taken;
    double WantMin, WantMax, WantValue;
  };
  const TCase cases[] = {
      // One at a time, the options switched on against the 0 … 0 limits clamp 200 to 0 first.
      {"a value inside the new pair stays", 150, 300, true, 150, 300, 200},
      {"the maximum below the value", 0, 100, true, 0, 100, 100},
      {"the minimum above the old maximum", 150, 300, true, 150, 300, 150},
      {"reversed pair", 300, 150, false, 150, 300, 150},
      {"NaN", nan, 500, false, 150, 300, 150},
      {"one point", 160, 160, true, 160, 160, 160},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Edit->SetLimits(c.Min, c.Max), c.Taken);
    EXPECT_EQ(Edit->MinValue(), c.WantMin);
    EXPECT_EQ(Edit->MaxValue(), c.WantMax);
    EXPECT_EQ(Edit->Value(), c.WantValue);
    EXPECT_EQ(Edit->Options() & (eoLimitMin | eoLimitMax), eoLimitMin | eoLimitMax);
  }
}

TEST_F(AnNumEditTest, viewsSaturateForHostileValuesAndFollowTheDigitRules) {
  constexpr float most = std::numeric_limits<float>::max();
  const std::string ones32(32, '1');
  const float top = std::bit_cast<float>(0x7F7FC99Eu);
  const struct {
    double In, Value;
    float Single;
    std::int32_t Int;
    const char *Hex, *Bool;
    std::int32_t DigitsHex, DigitsBool;
  } rows[] = {
      {5, 5, 5, 5, "0005", "00101", 4, 4},
      {255, 255, 255, 255, "00FF", "011111111", 4, 8},
      {-1, -1, -1, -1, "FFFFFFFF", ones32.c_str(), 0, 0},
      {2.5, 2.5, 2.5f, 2, "2", "10", 0, 0},
      {Inf, 1.7e308, top, 2147483647, "7FFFFFFF", nullptr, 0, 0},
      {1e39, 1e39, top, 2147483647, "7FFFFFFF", nullptr, 0, 0},
      {-1e40, -1e40, -most, -2147483647, "80000001", nullptr, 0, 0},
      {-Inf, -1.7e308, -std::numeric_limits<float>::infinity(), -2147483647, "80000001", nullptr, 0, 0},
      {std::nan(""), 7, 7, 7, "7", "00000000111", 0, 10}, // NaN is refused
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.In);
    Edit->SetDigitsHex(r.DigitsHex);
    Edit->SetDigitsBool(r.DigitsBool);
    Edit->SetValue(7);
    Edit->SetValue(r.In);
    EXPECT_EQ(Edit->Value(), r.Value);
    EXPECT_EQ(Edit->ValueAsSingle(), r.Single);
    EXPECT_EQ(Edit->ValueAsInt(), r.Int);
    EXPECT_EQ(Edit->ValueAsHex(), r.Hex);
    EXPECT_TRUE(!r.Bool || Edit->ValueAsBool() == r.Bool) << Edit->ValueAsBool();
    EXPECT_NO_THROW(Edit->Validate(true)) << Edit->text().toStdString(); // the text reads back
  }
  Edit->SetEditBase(ebBin);
  Edit->SetValueAsHex("1F");
  EXPECT_EQ(Edit->text(), "00000011111"); // DigitsBool 10 from the last row
}

TEST_F(AnNumEditTest, eventsFocusEscapeAndLockedEditorBehaveAsAUserExpects) {
  int changes = 0, valueChanges = 0;
  Edit->OnChange = [&](TObject *) { ++changes; };
  Edit->OnValueChanged = [&](TObject *) { ++valueChanges; };
  Type("42");
  EXPECT_EQ(valueChanges, 0); // typing alone takes nothing over
  EXPECT_EQ(changes, 5);      // one per key down: Ctrl, A, backspace and two digits
  QTest::keyClick(Edit, Qt::Key_Escape);
  EXPECT_EQ(Edit->text(), "0");
  EXPECT_EQ(Edit->State(), esNormal);

  Type("8");
  Other->setFocus();
  EXPECT_EQ(Edit->Value(), 8);
  EXPECT_EQ(valueChanges, 1);
  Edit->setFocus(Qt::TabFocusReason); // back by keyboard: all selected
  EXPECT_EQ(Edit->selectedText(), "8");
  Other->setFocus();
  QTest::mouseClick(Edit, Qt::LeftButton, {}, QPoint(3, 3)); // by mouse: nothing selected
  EXPECT_TRUE(Edit->selectedText().isEmpty());
  Type("");
  Other->setFocus(); // leaving an empty field shows 0
  EXPECT_EQ(Edit->text(), "0");

  Edit->SetValue(0.001); // shown as "0"; passing through the field keeps it
  Edit->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Edit, Qt::Key_Return);
  Other->setFocus();
  EXPECT_EQ(Edit->Value(), 0.001);

  Edit->SetEditorEnabled(false);
  Edit->Beeps = 0;
  QTest::keyClicks(Edit, "12");
  QTest::keyClick(Edit, Qt::Key_Backspace);
  EXPECT_EQ(Edit->text(), "0");
  EXPECT_EQ(Edit->Beeps, 3);
}

// A value the receiver refused shows in the error colour with the reason as tool tip, until the
// field is edited, given a value, or the mark is cleared.
TEST_F(AnNumEditTest, aRefusedValueStaysMarkedUntilTheFieldMovesOn) {
  const std::function<void()> endings[] = {
      [this] { Type("7"); },
      [this] { Edit->SetValue(3); },
      [this] { Edit->ShowRefused(""); },
  };
  for (const auto &end : endings) {
    Edit->SetValue(0);
    Edit->ShowRefused("erlaubt 1 bis 20");
    EXPECT_EQ(Edit->Color(), Edit->ColorError());
    EXPECT_EQ(Edit->toolTip(), "erlaubt 1 bis 20");
    EXPECT_TRUE(Edit->Refused());
    end();
    EXPECT_NE(Edit->Color(), Edit->ColorError());
    EXPECT_TRUE(Edit->toolTip().isEmpty());
    EXPECT_FALSE(Edit->Refused());
  }
  Type("x"); // a refused character is not cleared by clearing a refusal mark
  Edit->ShowRefused("");
  EXPECT_EQ(Edit->State(), esError);
}

} // namespace
