#include "platform/Application.h"

#include "platform/GuiThread.h"

#include <QDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

std::mutex SinkMutex;
TExceptionSink Sink;
std::atomic<bool> Closing{false};

TExceptionSink CurrentSink() {
  std::lock_guard lock(SinkMutex);
  return Sink;
}

void ShowInMessageBox(const std::string &message) {
  // Widgets need a QApplication; without one the message goes to the standard error.
  if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return;
  }
  QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), QString::fromUtf8(message),
                  QMessageBox::Ok, QApplication::activeWindow());
  // Messages quote received data such as "#8M25.5<": never read them as rich text.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

} // namespace

TExceptionSink SetExceptionSink(TExceptionSink sink) {
  std::lock_guard lock(SinkMutex);
  std::swap(Sink, sink);
  return sink;
}

void BeginShutdown() { Closing.store(true); }

bool ShuttingDown() { return Closing.load(); }

void CloseEverything() {
  BeginShutdown();
  // A dialog's own event loop runs inside the handler that opened it: ending the loops first lets
  // those handlers return before their windows go (closing alone leaves a box without an escape
  // button open).
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible()) dialog->reject();
  QApplication::closeAllWindows();
}

void ShowExceptionMessage(const std::string &message) {
  try {
    if (ShuttingDown()) {
      // Named as the program's other lines on stderr are ("telmora: …").
      const QString name = QCoreApplication::instance() ? QCoreApplication::applicationName().toLower() : QString();
      std::fprintf(stderr, "%s%s%s\n", qPrintable(name), name.isEmpty() ? "" : ": ", message.c_str());
      return;
    }
    if (!IsGuiThread()) {
      Synchronize([&] { ShowExceptionMessage(message); });
      return;
    }
    if (TExceptionSink sink = CurrentSink())
      sink(message);
    else
      ShowInMessageBox(message);
  } catch (...) {
    // The display is the last stop for an error; if it fails itself, keep the message visible.
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

void ShowException(const std::exception &e) { ShowExceptionMessage(e.what()); }

void ShowCurrentException() {
  if (!std::current_exception())
    return;
  try {
    throw;
  } catch (const std::exception &e) {
    ShowException(e);
  } catch (...) {
    ShowExceptionMessage(UnknownExceptionMessage);
  }
}

bool RunGuarded(const std::function<void()> &call) {
  try {
    call();
    return true;
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}

namespace {

QtMessageHandler PreviousMessageHandler = nullptr;

// The offscreen platform (screenshots) complains about every minimum size it cannot pass on to a
// window manager it does not have; that says nothing to a user.
void FilterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message) {
  if (message == QLatin1String("This plugin does not support propagateSizeHints()")) return;
  if (PreviousMessageHandler) PreviousMessageHandler(type, context, message);
}

} // namespace

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
  PreviousMessageHandler = qInstallMessageHandler(FilterMessages);
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
  return DeliverGuarded([&] { return QApplication::notify(receiver, event); });
}

QTranslator *InstallQtTranslations(const QString &language) {
  auto *translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_") + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}
