// The main window's make-up, menu and page switching, the meters' design values, dragging and
// the view options.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include "serial/ComTerminal.h"
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "app/window/ColorBox.h"
#include "app/window/FormMain.h"
#include "instruments/AnGradient.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"

namespace {

// Every cell blank and the caret home, as after the terminal was erased.
bool TerminalIsEmpty(const TComTerminal &t) {
  for (int row = 1; row <= t.Rows(); ++row)
    for (int col = 1; col <= t.Columns(); ++col) {
      const char ch = t.Buffer().GetCell(col, row).Ch;
      if (ch != 0 && ch != ' ') return false;
    }
  return t.CaretPos() == TPoint{1, 1};
}

QString TextOf(QObject *o) {
  if (auto *m = qobject_cast<QMenu *>(o)) return m->title();
  if (auto *a = qobject_cast<QAction *>(o)) return a->text();
  if (auto *b = qobject_cast<QAbstractButton *>(o)) return b->text();
  if (auto *l = qobject_cast<QLabel *>(o)) return l->text();
  if (auto *g = qobject_cast<QGroupBox *>(o)) return g->title();
  if (auto *c = qobject_cast<QComboBox *>(o)) return c->currentText();
  if (auto *e = qobject_cast<QLineEdit *>(o)) return e->text();
  return QStringLiteral("<no text>");
}

class FormMainTest : public ::testing::Test {
protected:
  // Port failures land here instead of in a message box nobody would close.
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>();
  ~FormMainTest() override {
    Form.reset();
    SetExceptionSink(PreviousSink);
  }
  TAnVMeter *Meter(const char *name) { return Form->FindComponent<TAnVMeter>(QString::fromLatin1(name)); }
};

struct ComponentRow {
  QString Name;
  const char *Class;
  QString Text;
  int Tag;
};

std::vector<ComponentRow> ComponentTable() {
  std::vector<ComponentRow> rows = {
      {"Datei1", "QMenu", "Datei", 0}, {"Projektladen1", "QAction", "Projekt laden", 0},
      {"Projektspeichern1", "QAction", "Projekt speichern unter", 0}, {"Beenden1", "QAction", "Beenden", 0},
      {"Show1", "QMenu", "Show", 0}, {"ConnectSchnittstelle1", "QAction", "Connect Schnittstelle", 0},
      {"DisconnectSchnittstelle1", "QAction", "Disconnect Schnittstelle", 0}, {"ShowInstrumente1", "QAction", "Instrumente", 0},
      {"Schnittstelle1", "QAction", "Schnittstelle", 0}, {"Terminal1", "QAction", "Terminal", 0},
      {"Optionen1", "QAction", "Optionen", 0}, {"Hilfe1", "QAction", "Hilfe", 0},
      {"ButtonConnectComPort1", "QPushButton", "Connect", 0}, {"ButtonDisConnectComPort1", "QPushButton", "Disconnect", 0},
      {"ButtonClearTerminal", "QPushButton", "Clear", 0}, {"ButtonSendString", "QPushButton", "Send String", 0},
      {"ButtonTerminalConnect", "QPushButton", "Connect", 0}, {"ButtonTerminalDisconnect", "QPushButton", "Disconnect", 0},
      {"ButtonSetStandardView", "QPushButton", "Set Standard View", 0}, {"ButtonInstrAktivieren", "QPushButton", "Instrumenten Status zuweisen", 0},
      {"ButtonSkalaFont", "QPushButton", "Font wählen", 0}, {"ButtonInstrWerteZuweisen", "QPushButton", "Werte zuweisen", 0},
      {"LabelComPort", "QLabel", "Com Port", 0}, {"LabelBaudRate", "QLabel", "Baud Rate", 0},
      {"LabelTerminal", "QLabel", "xxx", 0}, {"LabelFarbeVon", "QLabel", "Farbe von", 0},
      {"LabelFarbeBis", "QLabel", "Farbe bis", 0}, {"LabelName", "QLabel", "Name  ", 0},
      {"LabelAWertVon", "QLabel", "Anzeige Wert von", 0}, {"LabelAWertBis", "QLabel", "Anzeige Wert bis", 0},
      {"LabelEinheit", "QLabel", "Anzeige Einheit", 0}, {"LabelAnzeigeFormat", "QLabel", "Anzeige Format ##0.0", 0},
      {"LabelBreite", "QLabel", "Breite  ", 0}, {"LabelHoehe", "QLabel", "Höhe", 0},
      {"LabelSkalaSteps", "QLabel", "Skala Steps", 0}, {"LabelSkalaSubSteps", "QLabel", "Skala SubSteps", 0},
      {"LabelSkalaFont", "QLabel", "Skala Font", 0}, {"LabelSkalaZeiger", "QLabel", "Skala Zeiger", 0},
      {"LabelSkalaBackground", "QLabel", "Skala Background", 0}, {"GroupBoxSerielleSchnittstelle", "QGroupBox", "  Serielle Schnittstelle  ", 0},
      {"GroupBoxProtokoll", "QGroupBox", "  Protokoll / Daten-Format  ", 0}, {"GroupBoxBackgroundColor", "QGroupBox", "  Set Background Color    ", 0},
      {"GroupBoxEditAnalogMeter", "QGroupBox", "  ", 0}, {"GroupBoxVertkalMeter", "QGroupBox", "  Vertkal Meter  ", 0},
      {"GroupBox270Meter", "QGroupBox", "  270° Meter  ", 0}, {"GroupBoxDigitalAnzeige", "QGroupBox", "  Digital Anzeige    ", 0},
      {"GroupBoxPC", "QGroupBox", "    > PC    ", 0}, {"GroupBoxTrendAnzeige", "QGroupBox", "  Trend Anzeige", 0},
      {"GroupBoxHorizontalMeter", "QGroupBox", "  Horizontal Meter  ", 0}, {"GroupBoxVirtuelleKanaele", "QGroupBox", "  Virtuelle Kanäle  ", 0},
      // "COM10" is no Linux port name, so the port box lists it never and selects nothing.
      {"ComComboBox1", "TComComboBox", "", 0}, {"ComComboBox2", "TComComboBox", "19200", 0},
      {"ComLed1", "TComLed", "<no text>", 0}, {"ComLed2", "TComLed", "<no text>", 0},
      {"ComPort1", "TComPort", "<no text>", 0}, {"ComDataPacket1", "TComDataPacket", "<no text>", 0},
      {"EditTerminalSendString", "QLineEdit", "", 0}, {"EditName", "QLineEdit", "", 0},
      {"EditEinheit", "QLineEdit", "", 0}, {"EditAnzeigeFormat", "QLineEdit", "", 0},
      {"AnNumEditAWertVon", "TAnNumEdit", "0", 0}, {"AnNumEditAWertBis", "TAnNumEdit", "0", 0},
      {"AnNumEditBreite", "TAnNumEdit", "0", 0}, {"AnNumEditHoehe", "TAnNumEdit", "0", 0},
      {"AnNumEditSkalaSteps", "TAnNumEdit", "0", 0}, {"AnNumEditSkalaSubSteps", "TAnNumEdit", "0", 0},
      {"ColorBoxShowFarbeNach", "TColorBox", "MoneyGreen", 0}, {"ColorBoxShowFarbeVon", "TColorBox", "Silver", 0},
      {"ColorBoxInstrumentZeiger", "TColorBox", "Black", 0}, {"ColorBoxInstrBackground", "TColorBox", "Black", 0},
  };
  for (int n = 1; n <= 10; ++n) {
    const QString num = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    rows.push_back({QStringLiteral("CheckBox%1").arg(n), "QCheckBox", "   #" + num, n});
    rows.push_back({QStringLiteral("CButton%1").arg(n), "TFlatButton", "#" + num, n});
  }
  return rows;
}

TEST_F(FormMainTest, everyNamedComponentHasItsClassTextAndTag) {
  for (const ComponentRow &row : ComponentTable()) {
    SCOPED_TRACE(row.Name.toStdString());
    QObject *o = Form->FindComponent<QObject>(row.Name);
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(o->inherits(row.Class)) << o->metaObject()->className();
    EXPECT_EQ(TextOf(o), row.Text);
    EXPECT_EQ(ComponentTag(o), row.Tag);
  }
}

TEST_F(FormMainTest, disabledInstrumentGroupsHoldTheirNumberedBoxes) {
  const struct {
    int First, Last;
  } groups[] = {{20, 29}, {60, 69}, {80, 86}, {90, 93}, {30, 34}, {95, 96}};
  for (const auto &g : groups)
    for (int n = g.First; n <= g.Last; ++n) {
      SCOPED_TRACE(n);
      auto *cb = Form->FindComponent<QCheckBox>(QStringLiteral("CheckBox%1").arg(n));
      ASSERT_NE(cb, nullptr);
      EXPECT_EQ(cb->text(), QStringLiteral("   #%1").arg(n));
      EXPECT_FALSE(cb->isEnabled());
    }
  EXPECT_TRUE(Form->FindComponent<QCheckBox>("CheckBox1")->isEnabled());
}

TEST_F(FormMainTest, pagesHaveTheirCaptionsAndHiddenTabs) {
  const struct {
    QWidget *Page;
    const char *Name;
    const char *Caption;
  } pages[] = {
      {Form->TabSheetShow, "TabSheetShow", "      Show      "},
      {Form->TabSheetInstrumente, "TabSheetInstrumente", "       Instrumente       "},
      {Form->TabSheetSchnittstelle, "TabSheetSchnittstelle", "Schnittstelle"},
      {Form->TabSheetTerminal, "TabSheetTerminal", "Terminal"},
      {Form->TabSheetOptionen, "TabSheetOptionen", "Optionen"},
      {Form->TabSheetHilfe, "TabSheetHilfe", "Hilfe"},
  };
  QTabWidget *pc = Form->FindComponent<QTabWidget>("PageControl1");
  ASSERT_EQ(pc, Form->PageControl1);
  ASSERT_EQ(pc->count(), 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(pages[i].Name);
    EXPECT_EQ(Form->FindComponent<QWidget>(pages[i].Name), pages[i].Page);
    EXPECT_EQ(pc->indexOf(pages[i].Page), i);
    EXPECT_EQ(pc->tabText(i), QString::fromUtf8(pages[i].Caption));
  }
  Form->show();
  EXPECT_FALSE(pc->tabBar()->isVisible());
}

TEST_F(FormMainTest, innerEditorTabsAreVisibleAndDisabledAtStart) {
  QTabWidget *pc2 = Form->PageControl2;
  const char *captions[] = {"  Analog Meter  ", "  Digital ", "  Virtuell", "  Trend", "Digital > PC"};
  ASSERT_EQ(pc2->count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pc2->tabText(i), QString::fromUtf8(captions[i]));
  EXPECT_EQ(pc2->widget(0), Form->TabSheetVertkalMeter);
  EXPECT_FALSE(pc2->isEnabled());
}

TEST_F(FormMainTest, menuItemsSwitchPages) {
  const struct {
    QAction *Item;
    QWidget *Page;
  } rows[] = {
      {Form->ShowInstrumente1, Form->TabSheetInstrumente}, {Form->Schnittstelle1, Form->TabSheetSchnittstelle},
      {Form->Terminal1, Form->TabSheetTerminal},           {Form->Optionen1, Form->TabSheetOptionen},
      {Form->Hilfe1, Form->TabSheetHilfe},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Item->objectName().toStdString());
    EXPECT_TRUE(Form->menuBar()->actions().contains(row.Item));
    row.Item->trigger();
    EXPECT_EQ(Form->ActivePage(), row.Page);
  }
}

TEST_F(FormMainTest, menuBarOrderIsDateiShowThenThePageItems) {
  const QList<QAction *> top = Form->menuBar()->actions();
  QStringList names;
  for (QAction *a : top) names << a->objectName();
  EXPECT_EQ(names, QStringList({"Datei1", "Show1", "ShowInstrumente1", "Schnittstelle1", "Terminal1", "Optionen1", "Hilfe1"}));
}

TEST_F(FormMainTest, openingTheShowMenuShowsTheShowPage) {
  Form->Hilfe1->trigger();
  ASSERT_EQ(Form->ActivePage(), Form->TabSheetHilfe);
  emit Form->Show1->aboutToShow();
  EXPECT_EQ(Form->ActivePage(), Form->TabSheetShow);
}

TEST_F(FormMainTest, windowCaptionSizeAndFont) {
  EXPECT_EQ(Form->windowTitle(), QStringLiteral("    Telmora"));
  EXPECT_EQ(Form->minimumSize(), QSize(500, 500));
  Form->show();
  EXPECT_EQ(Form->OuterSize(), QSize(1139, 722));
  TFont f;
  f.SetName("MS Sans Serif");
  f.SetHeight(-13);
  EXPECT_EQ(Form->font(), f.ToQFont());
  const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
  EXPECT_LE((Form->frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

TEST_F(FormMainTest, startLeavesShowActiveWithTheBoxColoursOnTheGradient) {
  // Colours that only the show handler can replace.
  Form->AnGradient1->GradSettings().SetColorTo(clBlue);
  Form->AnGradient1->GradSettings().SetColorFrom(clRed);
  Form->show();
  EXPECT_EQ(Form->ActivePage(), Form->TabSheetShow);
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorFrom(), clMoneyGreen);
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorTo(), clSilver);
  EXPECT_TRUE(Form->AnGradient1->GradSettings().Visible());
  EXPECT_EQ(Form->AnGradient1->GradSettings().Style(), gsHorizontal1);
}

TEST_F(FormMainTest, colourBoxesReachTheGradientWhenShowIsNextShown) {
  Form->show();
  Form->Optionen1->trigger();
  // The box named ...FarbeVon sits in the "Farbe bis" row and gives the end colour.
  Form->ColorBoxShowFarbeVon->SetSelected(clNavy);
  Form->ColorBoxShowFarbeNach->SetSelected(clYellow);
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorTo(), clSilver);
  emit Form->Show1->aboutToShow();
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorTo(), clNavy);
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorFrom(), clYellow);
}

TEST_F(FormMainTest, colourRowsPairLabelsWithTheConfusinglyNamedBoxes) {
  auto *grid = qobject_cast<QGridLayout *>(Form->FindComponent<QGroupBox>("GroupBoxBackgroundColor")->layout());
  ASSERT_NE(grid, nullptr);
  auto rowOf = [&](const char *name) {
    int row = -1, col, rs, cs;
    grid->getItemPosition(grid->indexOf(Form->FindComponent<QWidget>(name)), &row, &col, &rs, &cs);
    return row;
  };
  EXPECT_EQ(rowOf("LabelFarbeVon"), 0);
  EXPECT_EQ(rowOf("ColorBoxShowFarbeNach"), 0);
  EXPECT_EQ(rowOf("LabelFarbeBis"), 1);
  EXPECT_EQ(rowOf("ColorBoxShowFarbeVon"), 1);
}

struct MeterRow {
  const char *Name;
  int Tag, Left, Top;
  const char *Name2;
};

const MeterRow Meters[] = {
    {"Instr1", 1, 13, 8, "#01"},     {"Instr2", 2, 13, 88, "#02"},    {"Instr3", 3, 13, 168, "#03"},
    {"Instr4", 4, 13, 248, "#04"},   {"Instr5", 5, 13, 328, "#05"},   {"Instr6", 6, 13, 408, "#06"},
    {"Instr7", 7, 13, 488, "#07"},   {"Instr8", 8, 141, 8, "#08"},    {"Instr9", 9, 141, 88, "#09"},
    {"Instr10", 10, 141, 168, "#10"}, {"Instr20", 20, 389, 24, "#20"}, {"Instr29", 29, 389, 112, "#29"},
};

void ExpectFont(const TFont &f, const char *name, int height, TColor color) {
  EXPECT_EQ(f.Name(), name);
  EXPECT_EQ(f.Height(), height);
  EXPECT_EQ(f.Color(), color);
}

TEST_F(FormMainTest, twelveMetersCarryTheDesignSettings) {
  const QObjectList order = Form->TabSheetShow->children();
  const auto gradientAt = order.indexOf(Form->AnGradient1);
  for (const MeterRow &row : Meters) {
    SCOPED_TRACE(row.Name);
    TAnVMeter *m = Meter(row.Name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parentWidget(), Form->TabSheetShow);
    EXPECT_GT(order.indexOf(m), gradientAt);
    EXPECT_EQ(ComponentTag(m), row.Tag);
    EXPECT_EQ(m->geometry(), QRect(row.Left, row.Top, 116, 73));
    EXPECT_FALSE(m->Visible());
    EXPECT_FALSE(m->AutoSize());
    EXPECT_TRUE(m->IsLoaded());
    EXPECT_EQ(m->UpdateCount(), 0);
    EXPECT_EQ(m->LimitUpper(), 90.0f);
    EXPECT_EQ(m->LimitLower(), 10.0f);
    EXPECT_EQ(m->Value(), 50.0f);

    const TSignalSettings &s = m->SignalSettings();
    EXPECT_EQ(s.Name1(), "SignalName1");
    EXPECT_EQ(s.Name2(), row.Name2);
    EXPECT_EQ(s.ValueFormat(), "##0");
    EXPECT_EQ(s.ValueFrom(), 0.001f);
    EXPECT_EQ(s.ValueTo(), 100.0f);
    EXPECT_EQ(s.ValueUnit(), "%");
    EXPECT_EQ(m->SectorSettings().Offset(), 0);
    EXPECT_EQ(m->SectorSettings().WidthOffset(), 0);
    EXPECT_FALSE(m->MinMax().UseSectorCol());
    EXPECT_FALSE(m->MinMax().MinVisible());
    EXPECT_FALSE(m->MinMax().MaxVisible());
    EXPECT_EQ(m->Options(), OptionBit(opBevelInner) | OptionBit(opBevelOuter) | OptionBit(opValue) |
                                OptionBit(opName1) | OptionBit(opName2) | OptionBit(opOverflow) | OptionBit(opUnit));
    ExpectFont(m->Font(), "Arial", -13, clBlack);
    ExpectFont(m->FontValue(), "System", -17, clLime);

    const struct {
      const TAnSBevel &Bevel;
      TBevelStyle Style;
      int Spacing;
      TBevelLine Line;
    } bevels[] = {{m->BevelInner(), bsLowered, 5, blInner}, {m->BevelOuter(), bsRaised, 5, blOuter},
                  {m->BevelValue(), bsLowered, 0, blNone}};
    for (const auto &b : bevels) {
      EXPECT_EQ(b.Bevel.Style(), b.Style);
      EXPECT_EQ(b.Bevel.Spacing(), b.Spacing);
      EXPECT_EQ(b.Bevel.BevelLine(), b.Line);
      EXPECT_EQ(b.Bevel.Width(), 2);
      EXPECT_FALSE(b.Bevel.SurfaceGrad().Visible());
    }
    EXPECT_EQ(m->BevelInner().Color(), clInfoBk);
    EXPECT_EQ(m->BevelValue().Color(), clBlack);

    const TScaleSettings &sc = m->ScaleSettings();
    EXPECT_EQ(sc.Color(), clBlack);
    EXPECT_EQ(sc.PointerColor(), clLime);
    EXPECT_TRUE(sc.DrawLine());
    ExpectFont(sc.Font(), "Arial", -20, clBlack);
    EXPECT_FALSE(sc.PosLeftTop());
    EXPECT_EQ(sc.Steps(), 5);
    EXPECT_EQ(sc.SubSteps(), 2);
    EXPECT_EQ(sc.ValueFormat(), "##0.0");
    EXPECT_EQ(sc.ValueFormatLog(), "0e-0");
  }
}

TEST_F(FormMainTest, gradientFillsTheShowPage) {
  Form->show();
  EXPECT_EQ(Form->AnGradient1->geometry(), Form->TabSheetShow->rect());
  Form->resize(900, 640);
  QCoreApplication::processEvents();
  EXPECT_EQ(Form->AnGradient1->geometry(), Form->TabSheetShow->rect());
}

TEST_F(FormMainTest, schnittstelleTextIsExact) {
  EXPECT_EQ(Form->SchnittstelleText(),
            "Die möglichen ComPorts werden\r\nautomatisch detektiert.\r\n\r\nDie Schnittstelle ist fest eingestellt auf:"
            "\r\n\r\n8 DataBit\r\n1 Stopbit\r\nNo Parity\r\nKeine Hard- oder Software-Flusskontrolle");
  auto *label = Form->FindComponent<QLabel>("LabelSchnittstelle");
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->font().bold());
  EXPECT_EQ(label->text().split('\n').size(), 9);
}

// The protocol label is the user's guide to what a board must send: its example line, fed to
// the window record by record, sets the meters it names.
TEST_F(FormMainTest, protocolLabelsExampleRecordsSetTheirMeters) {
  auto *label = Form->FindComponent<QLabel>("LabelProtokoll");
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->font().bold());
  const std::string text = Form->ProtokollText();
  // Lines end in CR LF only, and five empty lines follow the text.
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
  const QStringList lines = QString::fromStdString(text).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 21);
  for (int i = 16; i < 21; ++i) EXPECT_TRUE(lines[i].isEmpty()) << "line " << i + 1;
  EXPECT_EQ(label->text().split('\n').size(), 21);
  EXPECT_TRUE(lines[0].contains(QStringLiteral("#iMm<")));

  const std::string example = lines[15].toStdString();
  ASSERT_EQ(example.front(), '#');
  for (std::size_t from = 0; from < example.size();) {
    const std::size_t end = example.find('<', from);
    ASSERT_NE(end, std::string::npos) << example;
    Form->ComDataPacket1Packet(Form.get(), example.substr(from, end - from + 1));
    from = end + 1;
  }
  EXPECT_EQ(Form->FindComponent<TAnVMeter>("Instr8")->Value(), 25.5f);
  EXPECT_EQ(Form->FindComponent<TAnVMeter>("Instr2")->Value(), 1.34564f);
}

TEST_F(FormMainTest, terminalPageShowEnablesSendSetsPortNameAndClears) {
  Form->ButtonTerminalDisconnect->click();
  ASSERT_FALSE(Form->ButtonSendString->isEnabled());
  Form->ComTerminal1->WriteString("#8M25.5<");
  Form->Terminal1->trigger();
  EXPECT_TRUE(Form->ButtonSendString->isEnabled());
  EXPECT_EQ(Form->LabelTerminal->text(), QStringLiteral("COM10"));
  EXPECT_TRUE(TerminalIsEmpty(*Form->ComTerminal1));
  // Each show clears again, even after traffic in between.
  Form->Hilfe1->trigger();
  Form->ComTerminal1->WriteString("more");
  Form->Terminal1->trigger();
  EXPECT_TRUE(TerminalIsEmpty(*Form->ComTerminal1));
}

TEST_F(FormMainTest, terminalButtonsSwitchSendAndClearErases) {
  // The design port does not exist: each Connect fails after enabling the send button.
  const struct {
    QPushButton *Button;
    bool SendEnabled;
    size_t Failures;
  } steps[] = {{Form->ButtonTerminalDisconnect, false, 0}, {Form->ButtonTerminalConnect, true, 1},
               {Form->ButtonTerminalConnect, true, 2},     {Form->ButtonTerminalDisconnect, false, 2},
               {Form->ButtonTerminalDisconnect, false, 2}};
  for (const auto &s : steps) {
    s.Button->click();
    EXPECT_EQ(Form->ButtonSendString->isEnabled(), s.SendEnabled) << s.Button->objectName().toStdString();
    EXPECT_EQ(Shown.size(), s.Failures);
  }
  Form->ComTerminal1->WriteString("abc");
  Form->ButtonClearTerminal->click();
  EXPECT_TRUE(TerminalIsEmpty(*Form->ComTerminal1));
}

struct DragRow {
  TMouseButton Button;
  int DownX, DownY, MoveX, MoveY;
};

TEST_F(FormMainTest, dragMovesTheMeterByThePointerOffsetWithAnyButton) {
  const DragRow rows[] = {
      {mbLeft, 10, 10, 30, 25},   // right and down
      {mbRight, 50, 40, 20, 5},   // left and up, right button
      {mbMiddle, 5, 5, -200, -300}, // far outside the page: not limited
  };
  for (const DragRow &r : rows) {
    TAnVMeter *m = Meter("Instr3");
    const QPoint start = m->pos();
    Form->ControlMouseDown(m, r.Button, 0, r.DownX, r.DownY);
    EXPECT_TRUE(Form->Dragging);
    EXPECT_EQ(Form->DragStartX, r.DownX);
    EXPECT_EQ(Form->DragStartY, r.DownY);
    Form->ControlMouseMove(m, 0, r.MoveX, r.MoveY);
    EXPECT_EQ(m->pos(), start + QPoint(r.MoveX - r.DownX, r.MoveY - r.DownY));
    Form->ControlMouseUp(m, r.Button, 0, r.MoveX, r.MoveY);
    EXPECT_FALSE(Form->Dragging);
    const QPoint end = m->pos();
    Form->ControlMouseMove(m, 0, r.DownX + 40, r.DownY + 40); // no drag: no move
    EXPECT_EQ(m->pos(), end);
  }
}

TEST_F(FormMainTest, draggedOrClickedMeterComesToTheFront) {
  TAnVMeter *a = Meter("Instr1");
  TAnVMeter *b = Meter("Instr2");
  Form->ControlMouseDown(a, mbLeft, 0, 5, 5);
  Form->ControlMouseMove(a, 0, 5, 85); // onto Instr2
  Form->ControlMouseUp(a, mbLeft, 0, 5, 85);
  EXPECT_EQ(Form->TabSheetShow->children().last(), a);
  // A plain click raises too.
  Form->ControlMouseDown(b, mbLeft, 0, 5, 5);
  Form->ControlMouseUp(b, mbLeft, 0, 5, 5);
  EXPECT_EQ(Form->TabSheetShow->children().last(), b);
  EXPECT_EQ(b->pos(), QPoint(13, 88));
}

TEST_F(FormMainTest, realMouseEventsOnAMeterDragIt) {
  Form->show();
  TAnVMeter *m = Meter("Instr5");
  m->SetVisible(true);
  const QPoint start = m->pos();
  auto send = [&](QEvent::Type t, QPoint local, Qt::MouseButton b, Qt::MouseButtons held) {
    QMouseEvent e(t, QPointF(local), QPointF(m->mapToGlobal(local)), b, held, Qt::NoModifier);
    QApplication::sendEvent(m, &e);
  };
  send(QEvent::MouseButtonPress, {20, 20}, Qt::RightButton, Qt::RightButton);
  send(QEvent::MouseMove, {45, 12}, Qt::NoButton, Qt::RightButton);
  send(QEvent::MouseButtonRelease, {45, 12}, Qt::RightButton, Qt::NoButton);
  EXPECT_EQ(m->pos(), start + QPoint(25, -8));
  EXPECT_FALSE(Form->Dragging);
}

TEST_F(FormMainTest, standardViewGivesOuterSize1140x670FromAnySize) {
  Form->show();
  const QSize sizes[] = {QSize(800, 600), QSize(1600, 1000), QSize(500, 500), QSize(1140, 670)};
  for (const QSize &s : sizes) {
    Form->SetOuterSize(s.width(), s.height());
    const QPoint pos = Form->pos();
    Form->ButtonSetStandardView->click();
    EXPECT_EQ(Form->OuterSize(), QSize(1140, 670)) << s.width() << "x" << s.height();
    EXPECT_EQ(Form->pos(), pos);
  }
}

// The same rules as a user meets them: QTest's mouse and key events on the shown window.
TEST_F(FormMainTest, userDragsClicksPicksColoursAndSetsTheStandardView) {
  Form->show();
  QApplication::setActiveWindow(Form.get());
  Form->ShowPageByName("Show");
  TAnVMeter *a = Meter("Instr1");
  TAnVMeter *b = Meter("Instr2");
  a->SetVisible(true);
  b->SetVisible(true);
  // Right button: Instr2 dragged up onto Instr1 lies in front of it.
  QTest::mousePress(b, Qt::RightButton, {}, QPoint(30, 30));
  QTest::mouseMove(b, QPoint(40, -50));
  QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(40, -50));
  EXPECT_EQ(b->pos(), QPoint(13 + 10, 88 - 80));
  EXPECT_EQ(Form->TabSheetShow->childAt(a->geometry().center()), b);
  // A plain left click brings Instr1 back to the front without moving it.
  QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Form->TabSheetShow->childAt(a->geometry().center()), a);
  EXPECT_EQ(a->pos(), QPoint(13, 8));
  // Dragged beyond the page's top left corner, it stays there.
  QTest::mousePress(a, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseMove(a, QPoint(-100, -120));
  QTest::mouseRelease(a, Qt::LeftButton, {}, QPoint(-100, -120));
  EXPECT_EQ(a->pos(), QPoint(13 - 150, 8 - 170));

  Form->Optionen1->trigger();
  Form->ColorBoxShowFarbeVon->setFocus();
  QTest::keyClicks(Form->ColorBoxShowFarbeVon, "Navy");
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorTo(), clSilver); // not before Show
  Form->SetOuterSize(900, 600);
  QTest::mouseClick(Form->ButtonSetStandardView, Qt::LeftButton);
  EXPECT_EQ(Form->OuterSize(), QSize(1140, 670));
  Form->ShowPageByName("Show");
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorTo(), clNavy);
  EXPECT_EQ(Form->AnGradient1->GradSettings().ColorFrom(), clMoneyGreen);
}

} // namespace
