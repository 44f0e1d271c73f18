// The settings file as the window uses it: the file a fresh start writes, restoring what a file
// says (its reading rules and failures), the round trip of every stored property, reloading,
// read-only files and failed writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>

#include "app/window/ColorBox.h"
#include "app/window/FormMain.h"
#include "app/storage/FormStorage.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "platform/FormatSettings.h"
#include "serial/ComControls.h"
#include "support/TestSupport.h"

namespace {

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void ReplaceAll(std::string &s, const std::string &from, const std::string &to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

class FormStorageTest : public ::testing::Test {
protected:
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  ScopedFormatSettings Dot{'.', ','};
  QTemporaryDir Dir;
  std::string File = Dir.path().toStdString() + "/cfg/Telmora.ini";
  std::string P = "FormMain\\" + Dir.path().toStdString() + "/cfg/";

  ~FormStorageTest() override { SetExceptionSink(PreviousSink); }

  // A run: the window is created and shown (which restores), then closed (which saves and writes).
  std::unique_ptr<TFormMain> Start() {
    auto form = std::make_unique<TFormMain>(nullptr, File);
    form->show();
    return form;
  }
  static void Close(std::unique_ptr<TFormMain> &form) {
    form->close();
    form.reset();
  }
  static TAnVMeter *Meter(TFormMain &f, int n) { return f.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n)); }
  // A file holding the given lines below a first section, with P written out.
  void WriteSettings(std::string text) {
    ReplaceAll(text, "{P}", P);
    ASSERT_TRUE(CreateFolders(Dir.path().toStdString() + "/cfg"));
    WriteAll(File, text);
  }
};

TEST_F(FormStorageTest, aFreshStartWritesTheExpectedFileKeyByKey) {
  auto form = Start();
  const QRect outer = form->frameGeometry();
  Close(form);
  std::string expected = ReadAll(TELMORA_TEST_DATA "/fresh-start.ini");
  const QSize desktop = QGuiApplication::primaryScreen()->geometry().size();
  ReplaceAll(expected, "{P}", P);
  ReplaceAll(expected, "{WxH}", std::to_string(desktop.width()) + "x" + std::to_string(desktop.height()));
  ReplaceAll(expected, "{PPI}", std::to_string(qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch())));
  ReplaceAll(expected, "{NormPos}",
             std::to_string(outer.left()) + "," + std::to_string(outer.top()) + "," +
                 std::to_string(outer.left() + outer.width()) + "," + std::to_string(outer.top() + outer.height()));
  ReplaceAll(expected, "\n", "\r\n");
  const std::string written = ReadAll(File);
  // Line by line first, so that a difference names its line.
  std::istringstream a(written), b(expected);
  std::string la, lb;
  for (int line = 1; std::getline(b, lb); ++line) {
    ASSERT_TRUE(std::getline(a, la)) << "file ends before line " << line;
    ASSERT_EQ(la, lb) << "line " << line;
  }
  EXPECT_EQ(written, expected);
  EXPECT_TRUE(Shown.empty());
}

TEST_F(FormStorageTest, aMovedMeterIsBackWhereItWasLeft) {
  auto form = Start();
  Meter(*form, 3)->SetBounds(300, 200, 116, 73);
  Close(form);
  const std::string file = ReadAll(File);
  EXPECT_NE(file.find("Instr3_Left=300\r\n"), std::string::npos);
  EXPECT_NE(file.find("Instr3_Top=200\r\n"), std::string::npos);
  form = Start();
  EXPECT_EQ(Meter(*form, 3)->Left(), 300);
  EXPECT_EQ(Meter(*form, 3)->Top(), 200);
}

TEST_F(FormStorageTest, handWrittenValuesAreReadByTheFileRules) {
  struct Case {
    const char *What;
    const char *Lines; // the file after its FormMain section
    std::function<void(TFormMain &)> Check;
  };
  const Case cases[] = {
      {"names ignore letter case", "[{P}\\INSTR1_signalsettings]\nvalueto=00000000000000C80440\n",
       [](TFormMain &f) { EXPECT_EQ(Meter(f, 1)->SignalSettings().ValueTo(), 50.0f); }},
      {"one byte keeps the value", "[{P}\\Instr1_SignalSettings]\nValueTo=00\n",
       [](TFormMain &f) { EXPECT_EQ(Meter(f, 1)->SignalSettings().ValueTo(), 100.0f); }},
      {"two bytes keep the value", "[{P}\\Instr1_SignalSettings]\nValueTo=0100\n",
       [](TFormMain &f) { EXPECT_EQ(Meter(f, 1)->SignalSettings().ValueTo(), 100.0f); }},
      {"a decimal number", "[{P}\\Instr1_SignalSettings]\nValueTo=12.5\n",
       [](TFormMain &f) { EXPECT_EQ(Meter(f, 1)->SignalSettings().ValueTo(), 12.5f); }},
      {"Y shows", "[{P}]\nInstr1_Visible=Y\n", [](TFormMain &f) { EXPECT_TRUE(Meter(f, 1)->Visible()); }},
      {"yes shows", "[{P}]\nInstr1_Visible=yes\n", [](TFormMain &f) { EXPECT_TRUE(Meter(f, 1)->Visible()); }},
      {"2 shows", "[{P}]\nInstr1_Visible=2\n", [](TFormMain &f) { EXPECT_TRUE(Meter(f, 1)->Visible()); }},
      {"another word changes nothing", "[{P}]\nInstr1_Visible=vielleicht\nInstr1_Width=140\n",
       [](TFormMain &f) {
         EXPECT_FALSE(Meter(f, 1)->Visible());
         EXPECT_EQ(Meter(f, 1)->width(), 140); // the next listed property is read all the same
       }},
      {"a bad value ends its listed property only",
       "[{P}\\Instr1_BevelInner]\nStyle=bsRaised\nSpacing=x\nWidth=7\n[{P}]\nInstr1_Height=200\n",
       [](TFormMain &f) {
         EXPECT_EQ(Meter(f, 1)->BevelInner().Style(), bsRaised);
         EXPECT_EQ(Meter(f, 1)->BevelInner().Width(), 2);
         EXPECT_EQ(Meter(f, 1)->height(), 200);
       }},
      {"objects nest and sets read their flags",
       "[{P}\\Instr2_BevelInner]\n[{P}\\Instr2_BevelInner\\Offset]\nTop=3\n[{P}\\Instr2_Options]\nopLimit=TRUE\n"
       "opValue=1\n[{P}\\Instr2_ScaleSettings]\n[{P}\\Instr2_ScaleSettings\\Font]\n"
       "[{P}\\Instr2_ScaleSettings\\Font\\Style]\nfsItalic=Y\n[{P}\\Instr3_ScaleSettings\\Font\\Style]\nfsBold=Y\n",
       [](TFormMain &f) {
         EXPECT_EQ(Meter(f, 2)->BevelInner().Offset().Top(), 3);
         EXPECT_EQ(Meter(f, 2)->Options(), OptionBit(opLimit) | OptionBit(opValue)); // missing keys are off
         EXPECT_EQ(Meter(f, 2)->ScaleSettings().Font().Style(), fsItalic);
         // An object is read only where its own section exists.
         EXPECT_EQ(Meter(f, 3)->ScaleSettings().Font().Style(), 0);
       }},
      {"a Windows-1252 line keeps its degree sign", "[{P}\\Instr4_SignalSettings]\nValueUnit=\xB0" "C\n",
       [](TFormMain &f) { EXPECT_EQ(Meter(f, 4)->SignalSettings().ValueUnit(), "\xC2\xB0" "C"); }},
      {"port, speed and check boxes",
       "[{P}]\nCheckBox7_Checked=TRUE\nComPort1_Port=/dev/ttyUSB3\nComPort1_BaudRate=BR9600\n",
       [](TFormMain &f) {
         EXPECT_TRUE(f.FindComponent<QCheckBox>("CheckBox7")->isChecked());
         EXPECT_EQ(f.ComPort1->Port(), "/dev/ttyUSB3");
         EXPECT_EQ(f.ComPort1->BaudRate(), br9600);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.What);
    WriteSettings(std::string("[FormMain]\nFormVersion=0\n") + c.Lines);
    auto form = Start();
    c.Check(*form);
    form.reset();
  }
  EXPECT_TRUE(Shown.empty()); // bad stored properties are skipped silently
}

// Gives every stored value another one that its property accepts; an object's values take effect
// once its list is finished, as when the file is restored.
int ChangeAll(const TStoredProperty &p, const std::vector<std::function<void()>> &finish = {}) {
  if (p.Kind == TStoredProperty::Set) {
    p.SetBits(~p.GetBits() & ((1u << p.Elements.size()) - 1));
    return 1;
  }
  if (p.Kind == TStoredProperty::Object) {
    TPropList children;
    p.Children(children);
    int n = 0;
    for (const TStoredProperty &c : children.Props) n += ChangeAll(c, children.Finish);
    return n;
  }
  const std::string before = p.Write();
  std::vector<std::string> candidates = {before == "TRUE" ? "FALSE" : "TRUE", "clTeal", "clOlive"};
  try {
    const int n = DecodeInteger(before);
    candidates.insert(candidates.begin(), {std::to_string(n + 2), std::to_string(n - 2)});
  } catch (const EStoredValue &) {
  }
  if (before.size() == 20)
    if (const auto f = DecodeExtended(before)) // a log scale keeps only decades
      candidates.insert(candidates.begin(), {EncodeExtended(*f + 1.5), EncodeExtended(*f * 10)});
  for (const char *c : {"1", "0", "2"}) candidates.push_back(c);
  candidates.push_back(before + "x");
  for (const std::string &c : candidates) {
    try {
      p.Read(c);
    } catch (const EStoredValue &) {
      continue;
    }
    for (const auto &f : finish) f();
    if (p.Write() != before) return 1;
  }
  ADD_FAILURE() << p.Name << " kept '" << before << "'";
  return 0;
}

TEST_F(FormStorageTest, everyStoredPropertyRoundTripsThroughAChangedValue) {
  auto form = Start();
  Close(form);
  const std::string fresh = ReadAll(File);

  form = Start();
  int changed = 0;
  for (const std::string &entry : FormMainStoredProps()) {
    const size_t dot = entry.find('.');
    TPropList list;
    ASSERT_TRUE(form->FormStorage1->ResolveProp(entry.substr(0, dot), entry.substr(dot + 1), list)) << entry;
    changed += ChangeAll(list.Props.front());
  }
  EXPECT_GE(changed, 600);
  form->CheckBoxAutomatischNeuVerbinden->setChecked(false); // kept beside the stored properties
  // The trend charts' sections of their own.
  for (int n = 1; n <= 4; ++n) {
    TPropList list;
    DescribeTrend(*form->Trend(n), list);
    for (const TStoredProperty &p : list.Props) changed += ChangeAll(p);
  }
  // So are the broker's settings (a panel of a broker nobody answers on: the link only retries).
  form->EditMqttBroker->setText(QStringLiteral("mqtt://127.0.0.1:1/lab"));
  form->EditMqttPraefix->setText(QStringLiteral("rig/2"));
  form->CheckBoxMqttSenden->setChecked(true);
  form->ComboBoxMqttQoS->setCurrentIndex(1);
  form->ComboBoxMqttQuelle->setCurrentIndex(1);
  Close(form);
  const std::string first = ReadAll(File);

  form = Start(); // restores all of it …
  Close(form);    // … and writes it back unchanged
  EXPECT_EQ(ReadAll(File), first);

  // Every stored key below P now says something else than on a fresh start.
  TIniFile a, b;
  a.LoadFromText(fresh);
  b.LoadFromText(first);
  int keys = 0;
  for (const std::string &section : a.ReadSections()) {
    if (section.rfind(P, 0) != 0) continue;
    for (const std::string &key : a.ReadSection(section)) {
      ++keys;
      EXPECT_NE(a.ReadString(section, key, ""), b.ReadString(section, key, "?")) << section << " " << key;
    }
  }
  EXPECT_GE(keys, 700);
}

TEST_F(FormStorageTest, aCustomSpeedSurvivesARestart) {
  auto form = Start();
  form->UsePort("/dev/ttyACM0", 250000);
  Close(form);
  form = Start();
  EXPECT_EQ(form->ComPort1->BaudRate(), brCustom);
  EXPECT_EQ(form->ComPort1->CustomBaudRate(), 250000);
  EXPECT_EQ(form->ComPort1->Port(), "/dev/ttyACM0");
}

TEST_F(FormStorageTest, anotherRunsSaveSurvivesInKeysThisRunDoesNotWrite) {
  auto form = Start();
  // Meanwhile another program (or run) changes the file: the copy is reloaded before saving.
  WriteSettings("[FormMain]\nFormVersion=0\n[Elsewhere]\nKept=1\n[{P}]\nInstr5_Left=77\n");
  Meter(*form, 6)->SetLeft(88);
  Close(form);
  const std::string file = ReadAll(File);
  EXPECT_NE(file.find("[Elsewhere]\r\nKept=1\r\n"), std::string::npos);
  EXPECT_NE(file.find("Instr6_Left=88\r\n"), std::string::npos);
  EXPECT_NE(file.find("Instr5_Left=541\r\n"), std::string::npos); // every key this run writes is its own
}

TEST_F(FormStorageTest, aReadOnlyFileKeepsItsContentAndNothingIsShown) {
  WriteSettings("[FormMain]\nFormVersion=0\n[{P}]\nInstr2_Left=55\n");
  chmod(File.c_str(), 0444);
  auto form = Start();
  EXPECT_EQ(Meter(*form, 2)->Left(), 55);
  Meter(*form, 2)->SetLeft(99);
  Close(form);
  chmod(File.c_str(), 0644);
  EXPECT_NE(ReadAll(File).find("Instr2_Left=55"), std::string::npos);
  EXPECT_TRUE(Shown.empty());
}

TEST_F(FormStorageTest, aRunThatKeepsItsHandsOffTheFileWritesNothingWhenItCloses) {
  auto form = Start();
  form->AppIniFileStorage1->FlushOnDestroy = false; // as a replay or a screenshot does
  Close(form);
  EXPECT_FALSE(StatFile(File).Exists);
}

TEST_F(FormStorageTest, aFileThatCannotBeWrittenIsReportedWithItsPath) {
  File = "/proc/telmora-no-such-folder/Telmora.ini";
  auto form = Start();
  Close(form);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_NE(Shown[0].find("/proc/telmora-no-such-folder/Telmora.ini"), std::string::npos) << Shown[0];
}

TEST_F(FormStorageTest, aMalformedPlacementNumberIsReportedOnceAndRewritten) {
  WriteSettings("[FormMain]\nFormVersion=0\nShowCmd=abc\nPixelsPerInch=9x6\n[{P}]\nInstr2_Left=55\n");
  auto form = Start();
  ASSERT_TRUE(testsupport::RunLoopUntil([this] { return !Shown.empty(); }));
  EXPECT_EQ(Meter(*form, 2)->Left(), 55); // the rest is restored
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_NE(Shown[0].find("„abc“ ist keine ganze Zahl"), std::string::npos) << Shown[0];
  EXPECT_NE(Shown[0].find("ShowCmd"), std::string::npos);
  EXPECT_NE(Shown[0].find("PixelsPerInch"), std::string::npos);
  EXPECT_NE(Shown[0].find(File), std::string::npos);
  Close(form);
  const std::string file = ReadAll(File);
  EXPECT_NE(file.find("ShowCmd=1\r\n"), std::string::npos);
  EXPECT_EQ(file.find("abc"), std::string::npos);
}

TEST_F(FormStorageTest, aFileThatCannotBeReadIsSaidOnceAtTheStartAndLeftAsItIs) {
  const std::string longLine = "[FormMain]\nFormVersion=0\n[{P}]\nInstr2_Left=55\nName=" + std::string(1 << 20, 'x') + "\n";
  struct TCase {
    const char *Name;
    std::function<void()> Make;
    const char *Says;
  };
  const TCase cases[] = {
      {"folder", [&] { ASSERT_TRUE(CreateFolders(File)); }, "it is a folder"},
      {"FIFO",
       [&] {
         ASSERT_TRUE(CreateFolders(Dir.path().toStdString() + "/cfg"));
         ASSERT_EQ(mkfifo(File.c_str(), 0600), 0);
       },
       "not a regular file"},
      {"a line beyond the bound", [&] { WriteSettings(longLine); }, "line 5 is longer than 1048576 bytes"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(Dir.path().toStdString() + "/cfg");
    Shown.clear();
    c.Make();
    const TFileStamp before = StatFile(File);
    auto form = Start();
    ASSERT_TRUE(testsupport::RunLoopUntil([this] { return !Shown.empty(); }));
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_NE(Shown[0].find(File), std::string::npos) << Shown[0];
    EXPECT_NE(Shown[0].find(c.Says), std::string::npos) << Shown[0];
    EXPECT_NE(Shown[0].find("bleiben nicht erhalten"), std::string::npos) << Shown[0];
    EXPECT_EQ(Meter(*form, 2)->geometry(), QRect(145, 8, 116, 306)); // the first-start layout
    Meter(*form, 2)->SetLeft(99);
    Close(form);
    EXPECT_EQ(Shown.size(), 1u);
    EXPECT_EQ(StatFile(File), before);
  }
  // One that turns unreadable during the run is not written either.
  std::filesystem::remove_all(Dir.path().toStdString() + "/cfg");
  Shown.clear();
  WriteSettings("[FormMain]\nFormVersion=0\n[{P}]\nInstr2_Left=55\n");
  auto form = Start();
  WriteSettings(longLine);
  Close(form);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_NE(Shown[0].find("lässt sich nicht mehr lesen"), std::string::npos) << Shown[0];
  EXPECT_EQ(ReadAll(File).size(), longLine.size() - 3 + P.size());
}

TEST_F(FormStorageTest, aFileWithoutStoredMetersGivesTheFirstStartLayoutAndStoredMetersWin) {
  const QRect firstStart2(145, 8, 116, 306), design2(13, 88, 116, 73);
  static const char garbage[] = "\x8f\x01[\xff]\x00=\xc3\r\x1a garbage ]]\n=\n[\n";
  const struct {
    const char *Name;
    std::string Text;
    QRect Meter2;
  } cases[] = {
      {"empty", "", firstStart2},
      {"random bytes", std::string(garbage, sizeof garbage - 1), firstStart2},
      {"placement keys only", "[FormMain]\nFormVersion=0\nShowCmd=1\n", firstStart2},
      {"other programs' keys in P", "[{P}]\nSomethingElse=1\n", firstStart2},
      {"one stored meter key", "[{P}]\nInstr2_Left=55\n", QRect(55, 88, 116, 73)},
      {"one stored meter object", "[{P}\\Instr9_SignalSettings]\nName1=x\n", design2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    WriteSettings(c.Text);
    auto form = Start();
    EXPECT_EQ(Meter(*form, 2)->geometry(), c.Meter2);
    Close(form);
    EXPECT_TRUE(Shown.empty());
    EXPECT_NE(ReadAll(File).find("Instr2_Height=" + std::to_string(c.Meter2.height()) + "\r\n"), std::string::npos);
  }
}

TEST_F(FormStorageTest, aStoredRangeTakesAsAPairWhateverTheRangeBefore) {
  const struct {
    const char *Name;
    float OldFrom, OldTo;
    std::string From, To;
    float WantFrom, WantTo;
  } cases[] = {
      {"stored start is the old end", 0.001f, 100, EncodeExtended(100), EncodeExtended(200), 100, 200},
      {"stored end is the old start", 100, 200, EncodeExtended(0.001f), EncodeExtended(100), 0.001f, 100},
      {"stored bounds swapped", 0.001f, 100, EncodeExtended(100), EncodeExtended(0.001f), 100, 0.001f},
      {"equal bounds are refused whole", 0.001f, 100, EncodeExtended(50), EncodeExtended(50), 0.001f, 100},
      // A bad end ends the object's reading; the start read before it still takes, with the old end.
      {"a bad end", 0.001f, 100, EncodeExtended(50), "x", 50, 100},
  };
  auto form = Start();
  TSignalSettings &sig = Meter(*form, 4)->SignalSettings();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    WriteSettings("[{P}\\Instr4_SignalSettings]\nValueFrom=" + c.From + "\nValueTo=" + c.To + "\n");
    ASSERT_TRUE(form->AppIniFileStorage1->Ini().LoadFromFile(File));
    ASSERT_TRUE(sig.SetValueRange(c.OldFrom, c.OldTo));
    form->FormStorage1->RestoreStoredProps();
    EXPECT_EQ(sig.ValueFrom(), c.WantFrom);
    EXPECT_EQ(sig.ValueTo(), c.WantTo);
  }
  // At a start, over the design range 0.001 … 100.
  Close(form);
  WriteSettings("[{P}\\Instr4_SignalSettings]\nValueFrom=" + EncodeExtended(100) + "\nValueTo=" + EncodeExtended(200) + "\n");
  form = Start();
  EXPECT_EQ(Meter(*form, 4)->SignalSettings().ValueFrom(), 100.0f);
  EXPECT_EQ(Meter(*form, 4)->SignalSettings().ValueTo(), 200.0f);
  Close(form);
  EXPECT_NE(ReadAll(File).find("ValueFrom=" + EncodeExtended(100) + "\r\n"), std::string::npos);
}

TEST(StoredPlacement, theRectangleAppliesOnlyOnAScreenOfTheSameDensity) {
  const auto screen = [](int x, int y) { return x >= 0 && y >= 0 && x < 1920 && y < 1080; };
  const std::string rect = "100,50,1239,772";
  const struct {
    const char *What;
    std::optional<std::string> MinMax, Norm;
    int StoredDpi, ShowCmd;
    bool Apply;
    TShowCmd Show;
  } cases[] = {
      {"all fine", "-1,-1,-1,-1", rect, 96, 1, true, scNormal},
      {"only the rectangle", std::nullopt, rect, 96, 3, true, scMaximized},
      {"no text at all", std::nullopt, std::nullopt, 96, 2, false, scMinimized},
      {"another density", "-1,-1,-1,-1", rect, 120, 1, false, scNormal},
      {"left not before right", "", std::string("500,50,500,772"), 96, 1, false, scNormal},
      {"off to the right", "", std::string("1000,50,2139,772"), 96, 1, false, scNormal},
      {"off the top", "", std::string("100,-30,1239,692"), 96, 1, false, scNormal},
      {"fields missing count 0", "", std::string("5,5"), 96, 1, false, scNormal},
      {"extreme fields", "", std::string("-2147483648,0,2147483647,-2147483648"), 96, 1, false, scNormal},
      {"show codes 5, 9, 6, 7, 42", "", rect, 96, 6, true, scMinimized},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.What);
    const TPlacementDecision d = DecidePlacement(c.MinMax, c.Norm, c.StoredDpi, 96, c.ShowCmd, screen);
    EXPECT_EQ(d.ApplyRect, c.Apply);
    EXPECT_EQ(d.Show, c.Show);
    if (d.ApplyRect && c.Norm == rect) {
      EXPECT_EQ(d.Rect, QRect(100, 50, 1139, 722));
    }
  }
  for (int code : {1, 5, 9, 4, 42}) EXPECT_EQ(DecidePlacement({}, {}, 96, 96, code, screen).Show, scNormal) << code;
  for (int code : {2, 6, 7}) EXPECT_EQ(DecidePlacement({}, {}, 96, 96, code, screen).Show, scMinimized) << code;
}

TEST_F(FormStorageTest, theShowPageSaysHowToSwitchMetersOnWhileNoneIsVisible) {
  auto form = Start();
  QLabel *hint = form->LabelKeineInstrumente;
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisible());
  Meter(*form, 4)->SetVisible(true);
  EXPECT_FALSE(hint->isVisibleTo(form->TabSheetShow));
  Meter(*form, 4)->SetVisible(false);
  EXPECT_TRUE(hint->isVisibleTo(form->TabSheetShow));
  // Meters the stored settings switch on hide it from the start.
  Meter(*form, 9)->SetVisible(true);
  Close(form);
  form = Start();
  EXPECT_FALSE(form->LabelKeineInstrumente->isVisibleTo(form->TabSheetShow));
}

} // namespace
