// The instrument editor of the Instrumente page and its colour boxes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include <QApplication>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/window/ColorBox.h"
#include "app/window/FormMain.h"
#include "instruments/AnNumEdit.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "platform/FormatSettings.h"

namespace {

// The font dialog answered by the test instead of a user.
class TScriptedFormMain : public TFormMain {
public:
  bool Confirm = true;
  int DialogCount = 0;
  std::string ChosenName = "Courier New";
  int ChosenHeight = -15;

  bool RealDialog = false;

protected:
  bool ExecuteFontDialog(TFont &font) override {
    ++DialogCount;
    if (RealDialog) return TFormMain::ExecuteFontDialog(font);
    if (!Confirm) return false;
    font.SetName(ChosenName);
    font.SetHeight(ChosenHeight);
    return true;
  }
};

class FormMainEditorTest : public ::testing::Test {
protected:
  std::unique_ptr<TScriptedFormMain> Form = std::make_unique<TScriptedFormMain>();
  TAnVMeter *Meter(int n) { return Form->FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n)); }
  QPushButton *CButton(int n) { return Form->FindComponent<QPushButton>(QStringLiteral("CButton%1").arg(n)); }
  void Select(int n) {
    Form->ShowInstrumente1->trigger();
    CButton(n)->click();
  }
};

// Everything the editor writes, to compare a meter before and after.
struct MeterSnapshot {
  std::string Name1, Unit, Format;
  float From, To;
  QSize Size;
  int Steps, SubSteps;
  TColor Back, Pointer;
  std::string FontName;
  int FontHeight;
  bool operator==(const MeterSnapshot &) const = default;
};

MeterSnapshot Snapshot(TAnVMeter *m) {
  return {m->SignalSettings().Name1(),       m->SignalSettings().ValueUnit(),   m->ScaleSettings().ValueFormat(),
          m->SignalSettings().ValueFrom(),   m->SignalSettings().ValueTo(),     m->size(),
          m->ScaleSettings().Steps(),        m->ScaleSettings().SubSteps(),     m->BevelInner().Color(),
          m->ScaleSettings().PointerColor(), m->ScaleSettings().Font().Name(), m->ScaleSettings().Font().Height()};
}

TEST_F(FormMainEditorTest, selectingFillsFieldsAndCaptions) {
  TAnVMeter *m = Meter(3);
  m->SignalSettings().SetName1("Druck");
  m->SignalSettings().SetValueUnit("bar");
  m->ScaleSettings().SetSteps(4);
  m->BevelInner().SetColor(clCream);
  Select(3);
  EXPECT_TRUE(Form->PageControl2->isEnabled());
  EXPECT_EQ(Form->SelectedInstrumentNumber, 3);
  EXPECT_EQ(Form->SelectedInstrumentName, "Instr3");
  EXPECT_EQ(Form->SelectedScaleFont, &m->ScaleSettings().Font());
  EXPECT_EQ(Form->GroupBoxEditAnalogMeter->title(), QStringLiteral("   Instrument #3   "));
  EXPECT_EQ(Form->ButtonInstrWerteZuweisen->text(), QStringLiteral("Instrument  #3  Werte zuweisen"));
  EXPECT_EQ(Form->EditName->text(), QStringLiteral("Druck"));
  EXPECT_EQ(Form->AnNumEditAWertVon->Value(), static_cast<double>(0.001f));
  EXPECT_EQ(Form->AnNumEditAWertBis->Value(), 100.0);
  EXPECT_EQ(Form->EditEinheit->text(), QStringLiteral("bar"));
  EXPECT_EQ(Form->EditAnzeigeFormat->text(), QStringLiteral("##0.0"));
  EXPECT_EQ(Form->AnNumEditBreite->ValueAsInt(), 116);
  EXPECT_EQ(Form->AnNumEditHoehe->ValueAsInt(), 73);
  EXPECT_EQ(Form->AnNumEditSkalaSteps->ValueAsInt(), 4);
  EXPECT_EQ(Form->AnNumEditSkalaSubSteps->ValueAsInt(), 2);
  EXPECT_EQ(Form->ColorBoxInstrBackground->Selected(), clCream);
  EXPECT_EQ(Form->ColorBoxInstrumentZeiger->Selected(), clLime);
}

// Clicks into a field, replaces its text by typing and leaves it with Tab.
void TypeInto(QWidget *field, const char *text) {
  QTest::mouseClick(field, Qt::LeftButton);
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(field, QString::fromUtf8(text));
  QTest::keyClick(field, Qt::Key_Tab);
}

TEST_F(FormMainEditorTest, aUserConfiguresMeter3ThroughTheShownEditor) {
  std::vector<std::string> errors;
  const TExceptionSink previous = SetExceptionSink([&](const std::string &m) { errors.push_back(m); });
  for (const char decimal : {',', '.'}) {
    SCOPED_TRACE(decimal);
    ScopedFormatSettings fs(decimal, decimal == ',' ? '.' : ',');
    Form = std::make_unique<TScriptedFormMain>();
    Form->show();
    QApplication::setActiveWindow(Form.get());
    Form->ShowInstrumente1->trigger();
    QTest::mouseClick(Form->FindComponent<QCheckBox>("CheckBox3"), Qt::LeftButton);
    QTest::mouseClick(Form->ButtonInstrAktivieren, Qt::LeftButton);
    EXPECT_TRUE(Meter(3)->Visible());
    QTest::mouseClick(CButton(3), Qt::LeftButton);
    TypeInto(Form->AnNumEditAWertVon, decimal == ',' ? "0,5" : "0.5");
    TypeInto(Form->AnNumEditAWertBis, "2k");
    TypeInto(Form->EditEinheit, "mA");
    TypeInto(Form->EditAnzeigeFormat, "#0.00");
    TypeInto(Form->AnNumEditSkalaSteps, "4");
    TypeInto(Form->AnNumEditSkalaSubSteps, "3");
    Form->ColorBoxInstrumentZeiger->setFocus();
    QTest::keyClicks(Form->ColorBoxInstrumentZeiger, "Red"); // picks by its name
    QTest::mouseClick(Form->ButtonSkalaFont, Qt::LeftButton);
    QTest::mouseClick(Form->ButtonInstrWerteZuweisen, Qt::LeftButton);
    TAnVMeter *m = Meter(3);
    EXPECT_EQ(m->SignalSettings().ValueFrom(), 0.5f);
    EXPECT_EQ(m->SignalSettings().ValueTo(), 2000.0f);
    EXPECT_EQ(m->SignalSettings().ValueUnit(), "mA");
    EXPECT_EQ(m->ScaleSettings().ValueFormat(), "#0.00");
    EXPECT_EQ(m->ScaleSettings().Steps(), 4);
    EXPECT_EQ(m->ScaleSettings().SubSteps(), 3);
    EXPECT_EQ(m->ScaleSettings().PointerColor(), clRed);
    EXPECT_EQ(m->ScaleSettings().Font().Name(), "Courier New");

    // A typing error turns the field red, keeps it focused and never reaches the meter.
    const MeterSnapshot before = Snapshot(m);
    QTest::mouseClick(Form->AnNumEditAWertBis, Qt::LeftButton);
    QTest::keyClicks(Form->AnNumEditAWertBis, "7x");
    EXPECT_EQ(Form->AnNumEditAWertBis->State(), esError);
    EXPECT_EQ(Form->AnNumEditAWertBis->selectedText(), QStringLiteral("x"));
    QTest::mouseClick(Form->ButtonInstrWerteZuweisen, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), Form->AnNumEditAWertBis);
    EXPECT_EQ(Snapshot(m), before);
  }
  EXPECT_TRUE(errors.empty());
  SetExceptionSink(previous);
}

// Answers the next modal window of type T (a dialog or message box opened by a click) from its own
// event loop, as a user would, by clicking the button `which` picks.
template <class T> void AnswerNextModal(const std::function<QAbstractButton *(T *)> &which, bool &answered) {
  auto *poll = new QTimer;
  poll->setInterval(10);
  const QDeadlineTimer deadline(10000);
  QObject::connect(poll, &QTimer::timeout, [=, &answered] {
    auto *modal = qobject_cast<T *>(QApplication::activeModalWidget());
    if (!modal && !deadline.hasExpired()) return;
    poll->stop();
    poll->deleteLater();
    if (!modal) return;
    answered = true;
    QTest::mouseClick(which(modal), Qt::LeftButton);
  });
  poll->start();
}

// The colour box's list, the font dialog and a field's error box take the focus for a while: none
// of them leaves the page, the typed fields stay, and "Werte zuweisen" writes them.
TEST_F(FormMainEditorTest, listsAndDialogsLeaveTheEditorAsItWas) {
  ScopedFormatSettings fs('.', ',');
  const TExceptionSink previous = SetExceptionSink({}); // the real message box
  Form->RealDialog = true;
  Form->show();
  QApplication::setActiveWindow(Form.get());
  Form->ShowInstrumente1->trigger();
  QTest::mouseClick(CButton(5), Qt::LeftButton);
  TypeInto(Form->AnNumEditAWertVon, "0.5");
  TypeInto(Form->AnNumEditHoehe, "280");
  TypeInto(Form->AnNumEditSkalaSteps, "4");

  TColorBox *pointer = Form->ColorBoxInstrumentZeiger;
  // The list ignores a release within a double-click interval of its opening.
  const int doubleClick = QApplication::doubleClickInterval();
  QApplication::setDoubleClickInterval(0);
  QTest::mouseClick(pointer, Qt::LeftButton);
  QAbstractItemView *list = pointer->view();
  ASSERT_TRUE(list->isVisible()) << "the list opens at the click";
  EXPECT_TRUE(Form->PageControl2->isEnabled());
  QCoreApplication::processEvents();
  const QRect red = list->visualRect(list->model()->index(pointer->IndexOfColor(clRed), 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, red.center());
  QApplication::setDoubleClickInterval(doubleClick);
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(pointer->Selected(), clRed);
  EXPECT_TRUE(Form->PageControl2->isEnabled());

  bool fontAnswered = false;
  AnswerNextModal<QFontDialog>(
      [](QFontDialog *d) { return d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok); }, fontAnswered);
  QTest::mouseClick(Form->ButtonSkalaFont, Qt::LeftButton);
  EXPECT_TRUE(fontAnswered);
  EXPECT_TRUE(Form->PageControl2->isEnabled());
  // The offscreen platform has no window manager to give the window back its activation.
  QApplication::setActiveWindow(Form.get());

  // A number that is none: the error box, then the editor as it was.
  bool boxAnswered = false;
  AnswerNextModal<QMessageBox>([](QMessageBox *b) { return b->button(QMessageBox::Ok); }, boxAnswered);
  TypeInto(Form->AnNumEditAWertBis, "1e");
  EXPECT_TRUE(boxAnswered);
  QApplication::setActiveWindow(Form.get());
  EXPECT_TRUE(Form->PageControl2->isEnabled());
  EXPECT_EQ(Form->AnNumEditAWertVon->text(), "0.5");
  EXPECT_EQ(Form->AnNumEditSkalaSteps->text(), "4");
  TypeInto(Form->AnNumEditAWertBis, "2000");
  QTest::mouseClick(Form->ButtonInstrWerteZuweisen, Qt::LeftButton);
  TAnVMeter *m = Meter(5);
  EXPECT_EQ(m->SignalSettings().ValueFrom(), 0.5f);
  EXPECT_EQ(m->SignalSettings().ValueTo(), 2000.0f);
  EXPECT_EQ(m->ScaleSettings().Steps(), 4);
  EXPECT_EQ(m->height(), 280);
  EXPECT_EQ(m->ScaleSettings().PointerColor(), clRed);
  EXPECT_EQ(m->ScaleSettings().Font().Name(), Form->FontDialog1Font.Name());
  SetExceptionSink(previous);
}

// What the meter does not take shows at its field (red, the reason as tool tip) and in a line
// under the button naming the fields; a later assignment that takes clears it.
TEST_F(FormMainEditorTest, valuesTheMeterRefusesAreShownAtTheirFields) {
  ScopedFormatSettings fs('.', ',');
  Form->show();
  QApplication::setActiveWindow(Form.get());
  Form->ShowInstrumente1->trigger();
  QTest::mouseClick(CButton(6), Qt::LeftButton);
  TAnVMeter *m = Meter(6);
  const QSize size = m->size();
  TypeInto(Form->EditName, "taken");
  TypeInto(Form->AnNumEditBreite, "0");
  TypeInto(Form->AnNumEditSkalaSteps, "0");
  TypeInto(Form->AnNumEditSkalaSubSteps, "11");
  TypeInto(Form->AnNumEditAWertBis, "0.001"); // the meter's own start: no range
  QTest::mouseClick(Form->ButtonInstrWerteZuweisen, Qt::LeftButton);
  EXPECT_EQ(m->SignalSettings().Name1(), "taken");
  EXPECT_EQ(m->size(), size);
  const auto *notice = Form->findChild<QLabel *>(QStringLiteral("LabelNichtUebernommen"));
  for (TAnNumEdit *field : {Form->AnNumEditBreite, Form->AnNumEditSkalaSteps, Form->AnNumEditSkalaSubSteps,
                            Form->AnNumEditAWertBis}) {
    const QString label = QString::fromStdString(field->FieldLabel());
    SCOPED_TRACE(label.toStdString());
    EXPECT_TRUE(field->Refused());
    EXPECT_EQ(field->Color(), field->ColorError());
    EXPECT_TRUE(field->toolTip().contains(QStringLiteral("nicht übernommen")));
    EXPECT_TRUE(notice->text().contains(label)) << notice->text().toStdString();
  }
  for (TAnNumEdit *field : {Form->AnNumEditAWertVon, Form->AnNumEditHoehe}) EXPECT_FALSE(field->Refused());

  TypeInto(Form->AnNumEditSkalaSteps, "3");
  TypeInto(Form->AnNumEditSkalaSubSteps, "3");
  TypeInto(Form->AnNumEditBreite, "150");
  TypeInto(Form->AnNumEditAWertBis, "90");
  QTest::mouseClick(Form->ButtonInstrWerteZuweisen, Qt::LeftButton);
  EXPECT_EQ(m->ScaleSettings().Steps(), 3);
  EXPECT_EQ(m->width(), 150);
  EXPECT_FALSE(Form->AnNumEditSkalaSteps->Refused());
  EXPECT_TRUE(notice->text().isEmpty());
}

TEST_F(FormMainEditorTest, pageShowResetsFieldsButKeepsFormatSelectionAndEnabledState) {
  for (bool selected : {false, true}) {
    SCOPED_TRACE(selected);
    if (selected) Select(7);
    Form->EditName->setText("x");
    Form->AnNumEditAWertVon->SetValue(3);
    Form->AnNumEditAWertBis->SetValue(4);
    Form->EditEinheit->setText("V");
    Form->EditAnzeigeFormat->setText("#0.00");
    Form->AnNumEditBreite->SetValueAsInt(300);
    Form->AnNumEditHoehe->SetValueAsInt(200);
    Form->AnNumEditSkalaSteps->SetValueAsInt(9);
    Form->AnNumEditSkalaSubSteps->SetValueAsInt(7);
    Form->ColorBoxInstrBackground->SetSelected(clRed);
    Form->ColorBoxInstrumentZeiger->SetSelected(clBlue);
    Form->Hilfe1->trigger();
    Form->ShowInstrumente1->trigger();
    EXPECT_TRUE(Form->EditName->text().isEmpty());
    EXPECT_EQ(Form->AnNumEditAWertVon->Value(), 0.0);
    EXPECT_EQ(Form->AnNumEditAWertBis->Value(), 0.0);
    EXPECT_TRUE(Form->EditEinheit->text().isEmpty());
    EXPECT_EQ(Form->EditAnzeigeFormat->text(), QStringLiteral("#0.00"));
    EXPECT_EQ(Form->AnNumEditBreite->ValueAsInt(), 0);
    EXPECT_EQ(Form->AnNumEditHoehe->ValueAsInt(), 0);
    EXPECT_EQ(Form->AnNumEditSkalaSteps->ValueAsInt(), 5);
    EXPECT_EQ(Form->AnNumEditSkalaSubSteps->ValueAsInt(), 2);
    EXPECT_EQ(Form->ColorBoxInstrBackground->Selected(), clBtnFace);
    EXPECT_EQ(Form->ColorBoxInstrumentZeiger->Selected(), clLime);
    EXPECT_EQ(Form->ButtonInstrWerteZuweisen->text(), QStringLiteral("Instrument nicht zugewiesenn"));
    EXPECT_EQ(Form->GroupBoxEditAnalogMeter->title(), QStringLiteral("  Instrument nicht zugewiesenn  "));
    EXPECT_EQ(Form->PageControl2->isEnabled(), selected);
    EXPECT_EQ(Form->SelectedInstrumentNumber, selected ? 7 : 0);
  }
}

TEST_F(FormMainEditorTest, assigningUnchangedFieldsLeavesTheMeterAsItWas) {
  TAnVMeter *m = Meter(2);
  const MeterSnapshot before = Snapshot(m);
  Select(2);
  Form->ButtonInstrWerteZuweisen->click();
  EXPECT_EQ(Snapshot(m), before);
}

TEST_F(FormMainEditorTest, singleFieldChangesReachOnlyTheirProperty) {
  const struct {
    const char *What;
    void (*Edit)(TFormMain &);
    void (*Expect)(MeterSnapshot &);
  } rows[] = {
      {"name", [](TFormMain &f) { f.EditName->setText("Temp"); }, [](MeterSnapshot &s) { s.Name1 = "Temp"; }},
      {"unit", [](TFormMain &f) { f.EditEinheit->setText("°C"); }, [](MeterSnapshot &s) { s.Unit = "°C"; }},
      {"format", [](TFormMain &f) { f.EditAnzeigeFormat->setText("#0.00"); }, [](MeterSnapshot &s) { s.Format = "#0.00"; }},
      {"steps", [](TFormMain &f) { f.AnNumEditSkalaSteps->SetValueAsInt(8); }, [](MeterSnapshot &s) { s.Steps = 8; }},
      {"substeps", [](TFormMain &f) { f.AnNumEditSkalaSubSteps->SetValueAsInt(4); }, [](MeterSnapshot &s) { s.SubSteps = 4; }},
      {"width", [](TFormMain &f) { f.AnNumEditBreite->SetValueAsInt(150); }, [](MeterSnapshot &s) { s.Size.setWidth(150); }},
      {"height", [](TFormMain &f) { f.AnNumEditHoehe->SetValueAsInt(90); }, [](MeterSnapshot &s) { s.Size.setHeight(90); }},
      {"background", [](TFormMain &f) { f.ColorBoxInstrBackground->SetSelected(clWhite); }, [](MeterSnapshot &s) { s.Back = clWhite; }},
      {"pointer", [](TFormMain &f) { f.ColorBoxInstrumentZeiger->SetSelected(clRed); }, [](MeterSnapshot &s) { s.Pointer = clRed; }},
      {"upper bound", [](TFormMain &f) { f.AnNumEditAWertBis->SetValue(250.5); }, [](MeterSnapshot &s) { s.To = 250.5f; }},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.What);
    Form = std::make_unique<TScriptedFormMain>();
    MeterSnapshot expected = Snapshot(Meter(6));
    Select(6);
    row.Edit(*Form);
    Form->ButtonInstrWerteZuweisen->click();
    row.Expect(expected);
    EXPECT_EQ(Snapshot(Meter(6)), expected);
  }
}

TEST_F(FormMainEditorTest, theRangeIsAssignedAsAPairWhateverTheOldOneAndAnInvalidPairChangesNothing) {
  const struct {
    const char *Name;
    float OldFrom, OldTo;
    double From, To;
    float WantFrom, WantTo;
  } rows[] = {
      {"new start is the old end", 0.001f, 100, 100, 200, 100, 200},
      {"new end is the old start", 100, 200, 0.001, 100, 0.001f, 100},
      {"bounds swapped", 0.001f, 100, 100, 0.001, 100, 0.001f},
      {"equal bounds are refused whole", 0.001f, 100, 50, 50, 0.001f, 100},
  };
  TAnVMeter *m = Meter(4);
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    ASSERT_TRUE(m->SignalSettings().SetValueRange(r.OldFrom, r.OldTo));
    Select(4);
    Form->AnNumEditAWertVon->SetValue(r.From);
    Form->AnNumEditAWertBis->SetValue(r.To);
    Form->ButtonInstrWerteZuweisen->click();
    EXPECT_EQ(m->SignalSettings().ValueFrom(), r.WantFrom);
    EXPECT_EQ(m->SignalSettings().ValueTo(), r.WantTo);
  }
}

TEST_F(FormMainEditorTest, outOfRangeStepCountsAreIgnoredWhileTheRestIsAssigned) {
  const struct {
    int Steps, SubSteps, ExpectSteps, ExpectSubSteps;
  } rows[] = {{0, 2, 5, 2}, {25, 2, 5, 2}, {5, 11, 5, 2}, {5, 0, 5, 2}, {20, 10, 20, 10}, {1, 1, 1, 1}};
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << r.Steps << "/" << r.SubSteps);
    Form = std::make_unique<TScriptedFormMain>();
    Select(9);
    Form->AnNumEditSkalaSteps->SetValueAsInt(r.Steps);
    Form->AnNumEditSkalaSubSteps->SetValueAsInt(r.SubSteps);
    Form->EditName->setText("assigned");
    Form->ButtonInstrWerteZuweisen->click();
    EXPECT_EQ(Meter(9)->ScaleSettings().Steps(), r.ExpectSteps);
    EXPECT_EQ(Meter(9)->ScaleSettings().SubSteps(), r.ExpectSubSteps);
    EXPECT_EQ(Meter(9)->SignalSettings().Name1(), "assigned");
  }
}

TEST_F(FormMainEditorTest, chosenFontShowsAtOnceAndDoesNotFollowToAnotherMeter) {
  Select(2);
  Form->ButtonSkalaFont->click();
  EXPECT_EQ(Form->DialogCount, 1);
  EXPECT_EQ(Meter(2)->ScaleSettings().Font().Name(), "Courier New");
  EXPECT_EQ(Meter(2)->ScaleSettings().Font().Height(), -15);
  EXPECT_EQ(Form->SelectedScaleFont, &Form->FontDialog1Font);

  CButton(5)->click();
  Form->ButtonInstrWerteZuweisen->click();
  EXPECT_EQ(Meter(5)->ScaleSettings().Font().Name(), "Arial");
  EXPECT_EQ(Meter(5)->ScaleSettings().Font().Height(), -20);

  // The dialog keeps the last chosen font; after choosing it again, assigning gives it too.
  Form->ButtonSkalaFont->click();
  Form->ButtonInstrWerteZuweisen->click();
  EXPECT_EQ(Meter(5)->ScaleSettings().Font().Name(), "Courier New");
}

TEST_F(FormMainEditorTest, cancelledFontDialogChangesNothing) {
  Select(1);
  Form->Confirm = false;
  Form->ButtonSkalaFont->click();
  EXPECT_EQ(Form->DialogCount, 1);
  EXPECT_EQ(Meter(1)->ScaleSettings().Font().Name(), "Arial");
  EXPECT_EQ(Form->SelectedScaleFont, &Meter(1)->ScaleSettings().Font());
  EXPECT_EQ(Form->FontDialog1Font.Name(), "MS Sans Serif");
  EXPECT_EQ(Form->FontDialog1Font.Height(), -13);
}

TEST_F(FormMainEditorTest, withoutSelectionAssignAndFontTouchNoMeter) {
  std::vector<MeterSnapshot> before;
  for (int n = 1; n <= 10; ++n) before.push_back(Snapshot(Meter(n)));
  Form->EditName->setText("nobody");
  Form->ButtonInstrWerteZuweisenClick(Form.get());
  Form->ButtonSkalaFontClick(Form.get());
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(Snapshot(Meter(n)), before[n - 1]) << n;
  EXPECT_EQ(Form->SelectedScaleFont, &Form->FontDialog1Font);
}

TEST_F(FormMainEditorTest, statusButtonShowsExactlyTheTickedMeters) {
  TAnVMeter *extra = Form->FindComponent<TAnVMeter>("Instr20");
  extra->SetVisible(true);
  Meter(4)->SetValue(77.0f); // arrives while hidden
  Form->FindComponent<QCheckBox>("CheckBox4")->setChecked(true);
  Form->FindComponent<QCheckBox>("CheckBox10")->setChecked(true);
  EXPECT_FALSE(Meter(4)->Visible()); // ticking alone changes nothing
  Form->ButtonInstrAktivieren->click();
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(Meter(n)->Visible(), n == 4 || n == 10) << n;
  EXPECT_EQ(Meter(4)->Value(), 77.0f);
  EXPECT_TRUE(extra->Visible());
  EXPECT_FALSE(Form->FindComponent<TAnVMeter>("Instr29")->Visible());

  Form->FindComponent<QCheckBox>("CheckBox4")->setChecked(false);
  Form->ButtonInstrAktivieren->click();
  EXPECT_FALSE(Meter(4)->Visible());
  EXPECT_TRUE(Meter(10)->Visible());
}

TEST_F(FormMainEditorTest, exitDisablesTheEditorArea) {
  Select(1);
  ASSERT_TRUE(Form->PageControl2->isEnabled());
  Form->TabSheetInstrumenteExit(Form.get());
  EXPECT_FALSE(Form->PageControl2->isEnabled());
}

TEST_F(FormMainEditorTest, focusLeavingThePageByMenuDisablesTheEditorArea) {
  Form->show();
  Form->activateWindow();
  QDeadlineTimer deadline(5000);
  while (QApplication::activeWindow() != Form.get() && !deadline.hasExpired()) QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::activeWindow(), Form.get());
  Select(1);
  Form->EditName->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), Form->EditName);
  Form->Hilfe1->trigger();
  EXPECT_FALSE(Form->PageControl2->isEnabled());
}

TEST_F(FormMainEditorTest, buttonsWithoutMeterTagSelectNothing) {
  TFlatButton stray(QStringLiteral("#00"));
  for (int tag : {0, 11, 20, -1}) {
    SetComponentTag(&stray, tag);
    Form->CButton1Click(&stray);
    EXPECT_EQ(Form->SelectedInstrumentNumber, 0) << tag;
    EXPECT_FALSE(Form->PageControl2->isEnabled());
  }
}

TEST(FieldToFloatTest, saturatesBeyondTheFloatRangeAndDropsNaN) {
  constexpr float maxF = std::numeric_limits<float>::max();
  const struct {
    double In;
    std::optional<float> Out;
  } rows[] = {
      {0.5, 0.5f},
      {-100.25, -100.25f},
      {1e300, maxF},
      {-1e300, -maxF},
      {std::numeric_limits<double>::infinity(), maxF},
      {-std::numeric_limits<double>::infinity(), -maxF},
      {static_cast<double>(maxF), maxF},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
  };
  for (const auto &r : rows) EXPECT_EQ(FieldToFloat(r.In), r.Out) << r.In;
}

TEST(ColorBoxTest, namedColoursSelectTheirEntryAndOthersOneCustomEntry) {
  TColorBox box;
  const int named = box.count();
  const TColor rows[] = {clMoneyGreen, clSilver, clBtnFace, clInfoBk, clLime, clLtGray};
  for (TColor c : rows) {
    box.SetSelected(c);
    EXPECT_EQ(box.Selected(), c) << c;
    EXPECT_FALSE(box.itemIcon(box.currentIndex()).isNull());
  }
  EXPECT_EQ(box.count(), named);
  EXPECT_EQ(box.currentText(), QStringLiteral("Silver")); // clLtGray is the same colour

  box.SetSelected(0x123456);
  EXPECT_EQ(box.Selected(), 0x123456);
  EXPECT_EQ(box.count(), named + 1);
  box.SetSelected(0x654321);
  EXPECT_EQ(box.Selected(), 0x654321);
  EXPECT_EQ(box.count(), named + 1);
  int picks = 0;
  box.OnChange = [&](TObject *sender) {
    EXPECT_EQ(sender, &box);
    ++picks;
  };
  box.SetSelected(clRed);
  EXPECT_EQ(box.Selected(), clRed);
  EXPECT_EQ(picks, 0); // the program's own choice is no pick
  QTest::keyClicks(&box, "Navy");
  EXPECT_EQ(box.Selected(), clNavy);
  EXPECT_GE(picks, 1);
  for (int i = 0; i < box.count(); ++i)
    EXPECT_EQ(box.IndexOfColor(static_cast<TColor>(box.itemData(i).value<qint32>())), i) << "duplicate entry " << i;
}

} // namespace
