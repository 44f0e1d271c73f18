#include "platform/Application.h"

#include "platform/GuiThread.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto Deadline = 10s;

using testsupport::RunLoopUntil;

QEvent::Type TestEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class TReceiver : public QObject {
public:
  std::function<void()> OnEvent;
  int Delivered = 0;

protected:
  bool event(QEvent *e) override {
    if (e->type() != TestEventType())
      return QObject::event(e);
    ++Delivered;
    if (OnEvent)
      OnEvent();
    return true;
  }
};

class TThrowingFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() == TestEventType())
      throw std::runtime_error("filter failed");
    return false;
  }
};

// Delivers through the same path TApplication::notify takes, on the test's plain QApplication.
bool DeliverThroughNotify(QObject *receiver, QEvent *event) {
  return TApplication::DeliverGuarded([&] { return QCoreApplication::instance()->notify(receiver, event); });
}

class Application : public ::testing::Test {
protected:
  void SetUp() override {
    FPrevious = SetExceptionSink([this](const std::string &message) {
      Shown.push_back(message);
      ShownOnGuiThread = ShownOnGuiThread && IsGuiThread();
    });
  }
  void TearDown() override { SetExceptionSink(FPrevious); }

  std::vector<std::string> Shown;
  bool ShownOnGuiThread = true;

private:
  TExceptionSink FPrevious;
};

TEST_F(Application, exceptionEscapingAHandlerIsShownAndDeliveryGoesOn) {
  struct ENotStd {};
  struct TCase {
    const char *Name;
    std::function<void(TReceiver &)> Arm; // makes the receiver's next event fail
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {"event handler", [](TReceiver &r) { r.OnEvent = [] { throw std::runtime_error("Unable to open com port (Error: 2)"); }; },
       "Unable to open com port (Error: 2)"},
      {"several lines", [](TReceiver &r) { r.OnEvent = [] { throw std::invalid_argument("first line\nsecond line"); }; },
       "first line\nsecond line"},
      {"slot of a signal the handler emits",
       [](TReceiver &r) {
         QObject::connect(&r, &QObject::objectNameChanged, [] { throw std::out_of_range("slot failed"); });
         r.OnEvent = [&r] { r.setObjectName("Instr8"); };
       },
       "slot failed"},
      {"event filter", [](TReceiver &r) { r.installEventFilter(new TThrowingFilter(&r)); }, "filter failed"},
      {"int", [](TReceiver &r) { r.OnEvent = [] { throw 42; }; }, UnknownExceptionMessage},
      {"class not derived from std::exception", [](TReceiver &r) { r.OnEvent = [] { throw ENotStd{}; }; },
       UnknownExceptionMessage},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Shown.clear();
    TReceiver receiver;
    c.Arm(receiver);
    QEvent failing(TestEventType());
    EXPECT_FALSE(DeliverThroughNotify(&receiver, &failing));
    EXPECT_EQ(Shown, std::vector<std::string>{c.Expected});

    // The program goes on: the next events reach the receiver, directly and through the loop.
    receiver.OnEvent = nullptr;
    receiver.disconnect();
    qDeleteAll(receiver.findChildren<TThrowingFilter *>());
    const int before = receiver.Delivered;
    QEvent next(TestEventType());
    EXPECT_TRUE(DeliverThroughNotify(&receiver, &next));
    QCoreApplication::postEvent(&receiver, new QEvent(TestEventType()));
    EXPECT_TRUE(RunLoopUntil([&] { return receiver.Delivered == before + 2; }));
    EXPECT_EQ(Shown.size(), 1u);
  }
  EXPECT_TRUE(ShownOnGuiThread);
}

TEST_F(Application, runGuardedReportsWhetherTheCallCompleted) {
  int runs = 0;
  EXPECT_TRUE(RunGuarded([&] { ++runs; }));
  ShowCurrentException(); // outside a catch block there is nothing to show
  EXPECT_TRUE(Shown.empty());
  EXPECT_FALSE(RunGuarded([&] {
    ++runs;
    throw std::runtime_error("Link (un)registration failed");
  }));
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(Shown, std::vector<std::string>{"Link (un)registration failed"});
}

TEST_F(Application, messageFromAWorkerIsShownOnTheGuiThread) {
  TWorkerThread worker;
  worker.Start([] { ShowException(std::runtime_error("from the event thread")); });
  worker.JoinServing();
  EXPECT_EQ(Shown, std::vector<std::string>{"from the event thread"});
  EXPECT_TRUE(ShownOnGuiThread);
}

TEST_F(Application, setExceptionSinkReturnsThePreviousSink) {
  std::vector<std::string> second;
  TExceptionSink ours = SetExceptionSink([&](const std::string &m) { second.push_back(m); });
  ShowExceptionMessage("to the second sink");
  TExceptionSink restored = SetExceptionSink(ours);
  ShowExceptionMessage("to the fixture's sink");
  restored("called directly");
  EXPECT_EQ(second, (std::vector<std::string>{"to the second sink", "called directly"}));
  EXPECT_EQ(Shown, std::vector<std::string>{"to the fixture's sink"});
}

TEST_F(Application, withoutSinkAMessageBoxShowsTheMessageAsPlainText) {
  // Records the box when it is shown and closes it from its own loop; a deadline timer closes any
  // modal window left open, so a missed box fails instead of blocking.
  class TBoxCloser : public QObject {
  public:
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Title, Text;
    Qt::TextFormat Format = Qt::AutoText;
    bool Seen = false;

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override {
      auto *box = qobject_cast<QMessageBox *>(watched);
      if (e->type() == QEvent::Show && box && !Seen) {
        Seen = true;
        Icon = box->icon();
        Title = box->windowTitle();
        Text = box->text();
        Format = box->textFormat();
        QTimer::singleShot(0, box, [box] { box->done(0); });
      }
      return false;
    }
  } closer;
  const QString previousName = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName("Telmora");
  TExceptionSink fixtureSink = SetExceptionSink({});
  qApp->installEventFilter(&closer);
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [] {
    if (QWidget *w = QApplication::activeModalWidget())
      w->close();
  });
  deadline.start(Deadline);

  ShowExceptionMessage("No packet: <b>#8M25.5<</b>\nsecond line");

  qApp->removeEventFilter(&closer);
  SetExceptionSink(fixtureSink);
  QCoreApplication::setApplicationName(previousName);
  ASSERT_TRUE(closer.Seen);
  EXPECT_EQ(closer.Icon, QMessageBox::Critical);
  EXPECT_EQ(closer.Title, "Telmora");
  EXPECT_EQ(closer.Text, "No packet: <b>#8M25.5<</b>\nsecond line");
  EXPECT_EQ(closer.Format, Qt::PlainText);
  EXPECT_TRUE(Shown.empty());
}

// Shutting down cannot be undone within a process, so this runs in a child of its own. A message
// box is open (its own event loop inside the handler that showed it) when the close comes: the box
// goes, the window closes once, the loop ends, and a failure reported while closing is written
// to stderr instead of opening another box.
TEST(ApplicationShutdown, closingEverythingEndsOpenBoxesAndTheLoopAndLaterMessagesGoToStderr) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetExceptionSink({});
        class TCloseCounter : public QWidget {
        public:
          int Closes = 0;

        protected:
          void closeEvent(QCloseEvent *e) override {
            ++Closes;
            ShowExceptionMessage("reported while closing");
            QWidget::closeEvent(e);
          }
        } window;
        window.show();
        class TOnBox : public QObject {
        protected:
          bool eventFilter(QObject *watched, QEvent *e) override {
            if (e->type() == QEvent::Show && qobject_cast<QMessageBox *>(watched))
              QTimer::singleShot(0, [] { CloseEverything(); });
            return false;
          }
        } onBox;
        qApp->installEventFilter(&onBox);
        // A box left open keeps the loop running: the child then ends with its own code.
        QTimer::singleShot(10000, [] { std::_Exit(2); });
        bool boxReturned = false;
        QTimer::singleShot(0, [&] {
          ShowExceptionMessage("the port hung up");
          boxReturned = true;
        });
        const int code = QApplication::exec();
        const bool ok =
            code == 0 && boxReturned && window.Closes == 1 && ShuttingDown() && !QApplication::activeModalWidget();
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "reported while closing");
}

} // namespace

// Qt's dialogs speak German once its translations are loaded: the file dialog's labels and the
// buttons. An unknown language leaves Qt's own texts.
TEST(QtTranslations, germanDialogTextsOnceLoaded) {
  EXPECT_EQ(InstallQtTranslations("xx"), nullptr);
  QTranslator *german = InstallQtTranslations("de");
  ASSERT_NE(german, nullptr) << "Debian's qt6-translations-l10n is installed by the bootstrap";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Suchen in:");
  EXPECT_EQ(QCoreApplication::translate("QFontDialog", "Select Font"), "Schriftart auswählen");
  QCoreApplication::removeTranslator(german);
  delete german;
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}
