// What a new user meets first: the meters of a first start, the Datei menu (Beenden, project files)
// and the Hilfe page.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBrowser>

#include "app/window/ColorBox.h"
#include "app/window/FormMain.h"
#include "app/storage/FormStorage.h"
#include "instruments/AnGradient.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "platform/Version.h"
#include "support/TestSupport.h"

namespace {

// The file dialog answers what the test says.
class TFormUnderTest : public TFormMain {
public:
  using TFormMain::TFormMain;
  std::string Answer;
  int Asked = 0;

protected:
  std::string ChooseProjectFile(bool) override {
    ++Asked;
    return Answer;
  }
  bool ChooseRecordingFile(std::string &file, bool &) override {
    file = Answer;
    return true;
  }
};

class FormMainProjectTest : public ::testing::Test {
protected:
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  QTemporaryDir Dir;
  std::string Settings = Dir.path().toStdString() + "/cfg/Telmora.ini";
  ~FormMainProjectTest() override { SetExceptionSink(PreviousSink); }
  static TAnVMeter *Meter(TFormMain &f, int n) { return f.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n)); }
};

TEST_F(FormMainProjectTest, aFirstStartGivesEveryMeterRoomForItsScaleAndStoredSizesWin) {
  auto form = std::make_unique<TFormMain>(nullptr, Settings);
  form->show();
  for (int n = 1; n <= 10; ++n) {
    TAnVMeter *m = Meter(*form, n);
    m->SetVisible(true);
    EXPECT_EQ(m->geometry(), QRect(13 + (n - 1) % 5 * 132, 8 + (n - 1) / 5 * 318, 116, 306)) << n;
    for (int k = 1; k < n; ++k) EXPECT_FALSE(m->geometry().intersects(Meter(*form, k)->geometry())) << n << " " << k;
  }
  QCoreApplication::processEvents();
  (void)Meter(*form, 1)->grab(); // paints it
  EXPECT_FALSE(Meter(*form, 1)->TooSmall());
  Meter(*form, 2)->SetBounds(40, 50, 120, 200);
  form->close();
  form = std::make_unique<TFormMain>(nullptr, Settings);
  form->show();
  EXPECT_EQ(Meter(*form, 2)->geometry(), QRect(40, 50, 120, 200));
  EXPECT_EQ(Meter(*form, 3)->geometry(), QRect(277, 8, 116, 306));
  // Without a settings file at all (tests, the demo) the design size stands.
  TFormMain bare;
  EXPECT_EQ(Meter(bare, 1)->geometry(), QRect(13, 8, 116, 73));
}

TEST_F(FormMainProjectTest, beendenClosesTheWindowTheNormalWayAndSaves) {
  TFormUnderTest form(nullptr, Settings);
  form.show();
  Meter(form, 4)->SetLeft(321);
  form.Beenden1->trigger();
  EXPECT_FALSE(form.isVisible());
  std::ifstream in(Settings);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Instr4_Left=321\r\n"), std::string::npos);
}

TEST_F(FormMainProjectTest, aSavedProjectLoadsBackIntoAnotherSetUpAndLeavesTheSettingsFileAlone) {
  const std::string project = Dir.path().toStdString() + "/boards/bench.ini";
  TFormUnderTest form(nullptr, Settings);
  form.show();
  Meter(form, 3)->SetBounds(200, 100, 130, 260);
  Meter(form, 3)->SetVisible(true);
  Meter(form, 3)->SignalSettings().SetValueTo(250.0f);
  Meter(form, 3)->ScaleSettings().SetPointerColor(clRed);
  form.ColorBoxShowFarbeVon->SetSelected(clNavy);
  form.UsePort("/dev/ttyACM0", 9600);
  form.Answer = project;
  form.Projektspeichern1->trigger();
  ASSERT_TRUE(Shown.empty()) << Shown.front();
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Settings))); // written only at exit

  // Everything changes back, then the project brings it again, at once.
  Meter(form, 3)->SetBounds(13, 8, 116, 73);
  Meter(form, 3)->SetVisible(false);
  Meter(form, 3)->SignalSettings().SetValueTo(100.0f);
  Meter(form, 3)->ScaleSettings().SetPointerColor(clLime);
  form.ColorBoxShowFarbeVon->SetSelected(clSilver);
  form.UsePort("/dev/ttyUSB0", 19200);
  // Moved elsewhere: the folder in its section names no longer matches, it loads all the same.
  const std::string moved = Dir.path().toStdString() + "/moved.ini";
  ASSERT_TRUE(QFile::rename(QString::fromStdString(project), QString::fromStdString(moved)));
  form.Answer = moved;
  form.Projektladen1->trigger();
  ASSERT_TRUE(Shown.empty()) << Shown.front();
  EXPECT_EQ(Meter(form, 3)->geometry(), QRect(200, 100, 130, 260));
  EXPECT_TRUE(Meter(form, 3)->Visible());
  EXPECT_EQ(Meter(form, 3)->SignalSettings().ValueTo(), 250.0f);
  EXPECT_EQ(Meter(form, 3)->ScaleSettings().PointerColor(), clRed);
  EXPECT_EQ(form.AnGradient1->GradSettings().ColorTo(), clNavy);
  EXPECT_EQ(form.ComPort1->Port(), "/dev/ttyACM0");
  EXPECT_EQ(form.ComPort1->BaudRate(), br9600);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Settings)));

  // Cancelling the dialog does nothing.
  form.Answer.clear();
  form.Projektladen1->trigger();
  form.Projektspeichern1->trigger();
  EXPECT_TRUE(Shown.empty());
  EXPECT_EQ(form.Asked, 4);
}

TEST_F(FormMainProjectTest, aProjectsRangeTakesAsAPairWhateverTheRangeBefore) {
  const std::string project = Dir.path().toStdString() + "/range.ini";
  TFormUnderTest form(nullptr, Settings);
  form.Answer = project;
  const struct {
    const char *Name;
    float StoredFrom, StoredTo, OldFrom, OldTo;
  } rows[] = {
      {"stored start is the old end", 100, 200, 0.001f, 100},
      {"stored end is the old start", 0.001f, 100, 100, 200},
      {"stored bounds swapped", 100, 0.001f, 0.001f, 100},
  };
  TSignalSettings &sig = Meter(form, 3)->SignalSettings();
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    ASSERT_TRUE(sig.SetValueRange(r.StoredFrom, r.StoredTo));
    form.Projektspeichern1->trigger();
    ASSERT_TRUE(sig.SetValueRange(r.OldFrom, r.OldTo));
    form.Projektladen1->trigger();
    ASSERT_TRUE(Shown.empty()) << Shown.front();
    EXPECT_EQ(sig.ValueFrom(), r.StoredFrom);
    EXPECT_EQ(sig.ValueTo(), r.StoredTo);
  }
}

TEST_F(FormMainProjectTest, filesThatAreNoProjectAreRefusedWithAClearMessage) {
  TFormUnderTest form;
  form.show();
  const std::string dir = Dir.path().toStdString();
  std::ofstream(dir + "/other.ini") << "[Section]\r\nKey=1\r\n[FormMain\\elsewhere]\r\nColour=red\r\n";
  std::ofstream(dir + "/picture.png") << "\x89PNG\r\n";
  ASSERT_EQ(mkfifo((dir + "/fifo.ini").c_str(), 0600), 0);
  const struct {
    std::string File;
    const char *Says;
  } cases[] = {
      {dir + "/other.ini", "ist keine Einstellungsdatei von Telmora"},
      {dir + "/picture.png", "ist keine Einstellungsdatei von Telmora"},
      {dir + "/missing.ini", "lässt sich nicht lesen"},
      // Read at once and refused, where a FIFO blocked and a device never ended.
      {dir + "/fifo.ini", "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {dir, "it is a folder"},
  };
  for (const auto &c : cases) {
    Shown.clear();
    form.Answer = c.File;
    form.Projektladen1->trigger();
    ASSERT_EQ(Shown.size(), 1u) << c.File;
    EXPECT_NE(Shown[0].find(c.Says), std::string::npos) << Shown[0];
    EXPECT_NE(Shown[0].find(c.File), std::string::npos) << Shown[0];
  }
  EXPECT_EQ(Meter(form, 1)->geometry(), QRect(13, 8, 116, 73)); // nothing applied
  Shown.clear();
  form.Answer = "/proc/no-such-folder/p.ini";
  form.Projektspeichern1->trigger();
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_NE(Shown[0].find("/proc/no-such-folder/p.ini"), std::string::npos) << Shown[0];
}

TEST_F(FormMainProjectTest, atItsSmallestTheWindowIsFiveHundredSquareOutsideAndNoLabelIsCut) {
  TFormMain form;
  form.show();
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.frameGeometry() != form.geometry(); }))
      << "this platform draws no frame";
  form.SetOuterSize(300, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.OuterSize(), QSize(500, 500));
  for (QWidget *page : {form.TabSheetSchnittstelle, form.TabSheetInstrumente, form.TabSheetTerminal}) {
    form.SetActivePage(page);
    QCoreApplication::processEvents();
    for (QLabel *label : page->findChildren<QLabel *>()) {
      if (!label->isVisibleTo(page) || label->text().isEmpty()) continue;
      EXPECT_GE(label->width(), label->minimumSizeHint().width())
          << page->objectName().toStdString() << ": " << label->text().toStdString();
    }
  }
}

TEST_F(FormMainProjectTest, theHilfePageExplainsFormatStepsSettingsOptionsAndVersion) {
  TFormMain form(nullptr, Settings);
  const QString text = form.TextHilfe->toPlainText();
  for (const QString &part : {QStringLiteral("#8M25.5<"), QStringLiteral("Instrumenten Status zuweisen"),
                              QStringLiteral("Connect Schnittstelle"), QString::fromStdString(Settings),
                              QStringLiteral("Optionen:"), QStringLiteral("--port NAME"), QStringLiteral("--list-ports"),
                              QStringLiteral(TELMORA_VERSION)})
    EXPECT_TRUE(text.contains(part)) << part.toStdString();
}

// Words that show a text is English; none of them is a German word.
bool LooksEnglish(QString text, std::string &word) {
  // Option names and paths ("--record-raw", "/dev/serial/by-id/") are no prose.
  text.replace(QRegularExpression(QStringLiteral("(--|/)[\\w./-]+")), QStringLiteral(" "));
  static const QSet<QString> english = {
      QStringLiteral("the"),     QStringLiteral("is"),      QStringLiteral("not"),     QStringLiteral("cannot"),
      QStringLiteral("and"),     QStringLiteral("of"),      QStringLiteral("to"),      QStringLiteral("was"),
      QStringLiteral("has"),     QStringLiteral("with"),    QStringLiteral("for"),     QStringLiteral("into"),
      QStringLiteral("first"),   QStringLiteral("then"),    QStringLiteral("again"),   QStringLiteral("file"),
      QStringLiteral("records"), QStringLiteral("record"),  QStringLiteral("dropped"), QStringLiteral("it"),
      QStringLiteral("line"),    QStringLiteral("value"),   QStringLiteral("values"),  QStringLiteral("settings"),
      QStringLiteral("project"), QStringLiteral("stopped"), QStringLiteral("missing"), QStringLiteral("discarded"),
      QStringLiteral("are"),     QStringLiteral("use"),     QStringLiteral("when"),    QStringLiteral("exit")};
  for (const QString &w : text.split(QRegularExpression(QStringLiteral("[^\\p{L}]+")), Qt::SkipEmptyParts)) {
    if (english.contains(w.toLower())) {
      word = w.toStdString();
      return true;
    }
  }
  return false;
}

// The window speaks German: what it shows (tabs, menus, labels, buttons, frames, tool tips, the
// Hilfe page, the status line) and what its handlers say in message boxes. English stays where
// the serial engine words a failure ("Port Not Open") and where the system gives its reason.
TEST_F(FormMainProjectTest, theWindowSpeaksGermanInItsTextsAndMessages) {
  std::filesystem::create_directories(Dir.path().toStdString() + "/cfg");
  std::ofstream(Settings) << "[FormMain]\r\nFormVersion=0\r\nShowCmd=abc\r\n";
  const std::string dir = Dir.path().toStdString();
  std::ofstream(dir + "/other.ini") << "[Section]\r\nKey=1\r\n";
  std::ofstream(dir + "/locked.ini") << "";
  std::filesystem::permissions(dir + "/locked.ini", std::filesystem::perms::owner_read);
  TFormUnderTest form(nullptr, Settings);
  form.show();
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !Shown.empty(); })); // the settings file's bad value
  // What the handlers say when something goes wrong.
  const struct {
    const char *What;
    std::function<void()> Do;
  } steps[] = {
      {"a file that is no project", [&] { form.Answer = dir + "/other.ini", form.Projektladen1->trigger(); }},
      {"a read-only project", [&] { form.Answer = dir + "/locked.ini", form.Projektspeichern1->trigger(); }},
      {"a recording that cannot start", [&] { form.Answer = dir + "/no/x.csv", form.Aufzeichnungstarten1->trigger(); }},
      {"a recording on a full disk",
       [&] {
         form.Answer = "/dev/full", form.Aufzeichnungstarten1->trigger();
         form.ComDataPacket1Packet(nullptr, "#3M5<");
         testsupport::RunLoopUntil([&] { return !form.Recording(); });
       }},
      {"sending while closed", [&] { RunGuarded([&] { form.ButtonSendStringClick(&form); }); }},
      {"a record no meter takes", [&] { form.ComDataPacket1Packet(nullptr, "#12M1<"), form.UpdateStatusLine(); }},
  };
  for (const auto &s : steps) {
    const std::size_t before = Shown.size();
    s.Do();
    const bool boxed = std::string(s.What) != "a record no meter takes"; // the status line says it
    EXPECT_EQ(Shown.size(), before + (boxed ? 1 : 0)) << s.What;
  }
  QStringList texts;
  for (const std::string &m : Shown) {
    QString text = QString::fromStdString(m);
    text.remove(QStringLiteral("Port Not Open")).remove(QString::fromUtf8(std::strerror(ENOENT)));
    texts << text;
  }
  for (QAction *a : form.findChildren<QAction *>()) texts << a->text() << a->toolTip();
  for (QWidget *w : form.findChildren<QWidget *>()) {
    texts << w->toolTip();
    if (auto *l = qobject_cast<QLabel *>(w)) texts << l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w)) texts << b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w)) texts << g->title();
    if (auto *t = qobject_cast<QTabWidget *>(w)) {
      for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
    }
  }
  texts << form.TextHilfe->toPlainText();
  for (const QString &text : texts) {
    std::string word;
    EXPECT_FALSE(LooksEnglish(text, word)) << "\"" << word << "\" in: " << text.toStdString();
  }
  EXPECT_GT(texts.size(), 100);
}

} // namespace
