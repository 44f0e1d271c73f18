// The window itself: construction, the main menu, page switching and sizes.
#include "app/window/FormMain.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/records/DropLog.h"
#include "app/storage/FormStorage.h"
#include "app/window/OneInstance.h"
#include "app/records/Recorder.h"
#include "app/window/StatusLine.h"
#include "instruments/AnBase.h"
#include "serial/ComControls.h"
#include "serial/ComDataPacket.h"
#include "serial/ComReconnect.h"

int ComponentTag(const QObject *component) {
  if (!component) return 0;
  if (auto *g = qobject_cast<const TAnGraphicControl *>(component)) return g->Tag();
  return component->property("tag").toInt();
}

void SetComponentTag(QObject *component, int tag) {
  if (!component) return;
  if (auto *g = qobject_cast<TAnGraphicControl *>(component))
    g->SetTag(tag);
  else
    component->setProperty("tag", tag);
}

TFlatButton::TFlatButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent) {
  setFlat(true);
  setStyleSheet(QStringLiteral("QPushButton { border: 1px solid black; background: transparent; padding: 1px 4px; }"
                               "QPushButton:hover { color: red; }"));
}

QFont TFormMain::DesignFont(const char *name, int height, TFontStyles style) {
  TFont f;
  f.SetName(name);
  f.SetHeight(height);
  f.SetStyle(style);
  return f.ToQFont();
}

TFormMain::TFormMain(QWidget *parent, const std::string &settingsFile) : QMainWindow(parent) {
  setObjectName(QStringLiteral("FormMain"));
  setWindowTitle(QStringLiteral("    Telmora"));
  setFont(DesignFont("MS Sans Serif", -13));
  FontDialog1Font.SetName("MS Sans Serif");
  FontDialog1Font.SetHeight(-13);

  // The port comes first: the framer, the selection boxes and the lamps bind to it.
  BuildSerialComponents();

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  // Pages change only through the main menu: the tabs are never shown.
  PageControl1->tabBar()->hide();
  PageControl1->setDocumentMode(true);
  setCentralWidget(PageControl1);

  TabSheetShow = AddPage("TabSheetShow", "      Show      ");
  TabSheetInstrumente = AddPage("TabSheetInstrumente", "       Instrumente       ");
  TabSheetSchnittstelle = AddPage("TabSheetSchnittstelle", "Schnittstelle");
  TabSheetTerminal = AddPage("TabSheetTerminal", "Terminal");
  TabSheetOptionen = AddPage("TabSheetOptionen", "Optionen");
  TabSheetHilfe = AddPage("TabSheetHilfe", "Hilfe");

  BuildShowPage();
  BuildTrends();
  BuildInstrumentePage();
  BuildTrendEditor();
  BuildSchnittstellePage();
  BuildTerminalPage();
  BuildReconnect();
  BuildOptionenPage();
  BuildMenu();
  BuildStatusLine();

  // Connected only now, so that no show handler runs before every page exists.
  PageControl1->setCurrentWidget(TabSheetShow);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TFormMain::PageChanged);
  connect(qApp, &QApplication::focusChanged, this, &TFormMain::FocusChanged);

  setMinimumSize(500, 500);
  PlaceAtDesignSize();
  FDesignGeometry = geometry();

  // Every component exists now: the stored settings take effect (the port stays closed).
  ComPort1->Loaded();
  ComDataPacket1->Loaded();
  ComLed2->Loaded();
  ComLed1->Loaded();
  BuildNoMeterHint();
  BuildSettingsStorage(settingsFile);
  BuildHilfePage();
  OneInstance1 = new TOneInstance(this);
  OneInstance1->Loaded();
  FormCreate(this);
}

TFormMain::~TFormMain() {
  // A window destroyed without being closed still saves; the storage writes the file when it goes.
  SaveSettingsOnDestroy();
  // The link's hand-overs reach this window: it ends while the window is whole.
  StopBroker();
  // Pages are destroyed with the window; their focus changes must not reach a half-gone window.
  disconnect(qApp, &QApplication::focusChanged, this, &TFormMain::FocusChanged);
  // Closing the port still delivers what was received before; the window those records reach
  // must be whole then, so the port goes first; the status line no longer follows it.
  if (FStatusPort) FStatusPort->DetachLink(FStatusLink.get());
  delete ComPort1;
  ComPort1 = nullptr;
}

QWidget *TFormMain::AddPage(const char *name, const char *caption) {
  auto *page = new QWidget(PageControl1);
  page->setObjectName(QString::fromLatin1(name));
  page->setWindowTitle(QString::fromUtf8(caption));
  PageControl1->addTab(page, QString::fromUtf8(caption));
  return page;
}

QWidget *TFormMain::ScrollablePage(QWidget *page) {
  auto *outer = new QVBoxLayout(page);
  outer->setContentsMargins(0, 0, 0, 0);
  auto *area = new QScrollArea(page);
  area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  auto *content = new QWidget;
  content->setObjectName(page->objectName() + QStringLiteral("Content"));
  area->setWidget(content);
  outer->addWidget(area);
  return content;
}

void TFormMain::BuildMenu() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  auto name = [](QObject *o, const char *n) { o->setObjectName(QString::fromLatin1(n)); };

  Datei1 = bar->addMenu(QStringLiteral("Datei"));
  name(Datei1, "Datei1");
  name(Datei1->menuAction(), "Datei1");
  Projektladen1 = Datei1->addAction(QStringLiteral("Projekt laden"));
  name(Projektladen1, "Projektladen1");
  connect(Projektladen1, &QAction::triggered, this, Guarded([this] { ProjektladenClick(); }));
  Projektspeichern1 = Datei1->addAction(QStringLiteral("Projekt speichern unter"));
  name(Projektspeichern1, "Projektspeichern1");
  connect(Projektspeichern1, &QAction::triggered, this, Guarded([this] { ProjektspeichernClick(); }));
  Aufzeichnungstarten1 = Datei1->addAction(QStringLiteral("Aufzeichnung starten…"));
  name(Aufzeichnungstarten1, "Aufzeichnungstarten1");
  connect(Aufzeichnungstarten1, &QAction::triggered, this, Guarded([this] { AufzeichnungstartenClick(); }));
  Aufzeichnungbeenden1 = Datei1->addAction(QStringLiteral("Aufzeichnung beenden"));
  name(Aufzeichnungbeenden1, "Aufzeichnungbeenden1");
  Aufzeichnungbeenden1->setEnabled(false);
  connect(Aufzeichnungbeenden1, &QAction::triggered, this, [this] { StopRecording(); });
  Beenden1 = Datei1->addAction(QStringLiteral("Beenden"));
  name(Beenden1, "Beenden1");
  // Closed the normal way, so the settings are saved as with the window's own close button.
  connect(Beenden1, &QAction::triggered, this, &QWidget::close);

  Show1 = bar->addMenu(QStringLiteral("Show"));
  name(Show1, "Show1");
  name(Show1->menuAction(), "Show1");
  // Opening the Show menu also shows the Show page.
  connect(Show1, &QMenu::aboutToShow, this, [this] { SetActivePage(TabSheetShow); });
  ConnectSchnittstelle1 = Show1->addAction(QStringLiteral("Connect Schnittstelle"));
  name(ConnectSchnittstelle1, "ConnectSchnittstelle1");
  connect(ConnectSchnittstelle1, &QAction::triggered, this, Guarded([this] { ConnectSchnittstelle1Click(); }));
  DisconnectSchnittstelle1 = Show1->addAction(QStringLiteral("Disconnect Schnittstelle"));
  name(DisconnectSchnittstelle1, "DisconnectSchnittstelle1");
  connect(DisconnectSchnittstelle1, &QAction::triggered, this, Guarded([this] { DisconnectSchnittstelle1Click(); }));

  auto pageItem = [&](const char *objName, const char *caption, QWidget *page) {
    QAction *a = bar->addAction(QString::fromUtf8(caption));
    name(a, objName);
    connect(a, &QAction::triggered, this, [this, page] { SetActivePage(page); });
    return a;
  };
  ShowInstrumente1 = pageItem("ShowInstrumente1", "Instrumente", TabSheetInstrumente);
  Schnittstelle1 = pageItem("Schnittstelle1", "Schnittstelle", TabSheetSchnittstelle);
  Terminal1 = pageItem("Terminal1", "Terminal", TabSheetTerminal);
  Optionen1 = pageItem("Optionen1", "Optionen", TabSheetOptionen);
  Hilfe1 = pageItem("Hilfe1", "Hilfe", TabSheetHilfe);
}

QWidget *TFormMain::ActivePage() const { return PageControl1->currentWidget(); }

void TFormMain::SetActivePage(QWidget *page) {
  if (page && PageControl1->indexOf(page) >= 0) PageControl1->setCurrentWidget(page);
}

void TFormMain::PageChanged(int index) {
  QWidget *page = PageControl1->widget(index);
  if (page == TabSheetShow)
    TabSheetShowShow(this);
  else if (page == TabSheetInstrumente)
    TabSheetInstrumenteShow(this);
  else if (page == TabSheetTerminal)
    TabSheetTerminalShow(this);
}

void TFormMain::FocusChanged(QWidget *old, QWidget *now) {
  if (!old || !TabSheetInstrumente->isAncestorOf(old)) return;
  if (now && TabSheetInstrumente->isAncestorOf(now)) return;
  // Only another control of this window leaves the page: a drop-down list, a dialog, a message
  // box or another window taking the focus for a while leaves the editor as it was.
  if (now && now->window() != this) return;
  // Focus that goes away with the whole application is no exit from the page.
  if (!now && !isActiveWindow()) return;
  TabSheetInstrumenteExit(this);
}

QSize TFormMain::OuterSize() const { return frameGeometry().size(); }

void TFormMain::SetOuterSize(int width, int height) {
  NoteNormalFrame(); // the smallest outer size needs the frame
  const QSize frame = frameGeometry().size() - geometry().size();
  resize(width - frame.width(), height - frame.height());
}

void TFormMain::FormCreate(TObject * /*Sender*/) {}

void TFormMain::PlaceAtDesignSize() {
  QRect outer(0, 0, 1139, 722);
  if (QScreen *s = QGuiApplication::primaryScreen()) outer.moveCenter(s->geometry().center());
  SetOuterGeometry(outer);
}

void TFormMain::SetOuterGeometry(const QRect &outer) {
  FPendingOuter = QRect(); // the move and resize below must not apply an older wish
  const QRect frame = frameGeometry();
  const QRect inner = geometry();
  // move() places the frame's top-left corner; the inside is the outer size less the frame.
  move(outer.topLeft());
  resize(outer.width() - (frame.width() - inner.width()), outer.height() - (frame.height() - inner.height()));
  FPendingOuter = frame == inner ? outer : QRect();
  FWantedOuter = outer;
}

void TFormMain::NoteNormalFrame() {
  if (!isVisible() || windowState() != Qt::WindowNoState || FPendingOuter.isValid()) return;
  const QRect frame = frameGeometry(), inner = geometry();
  if (frame == inner) return;
  FNormalFrame = QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                          frame.bottom() - inner.bottom());
  FNormalFrameKnown = true;
  FWantedOuter = frame;
  // The smallest size is meant with the frame, as the window manager draws it.
  const QSize least(500 - FNormalFrame.left() - FNormalFrame.right(), 500 - FNormalFrame.top() - FNormalFrame.bottom());
  if (minimumSize() != least) setMinimumSize(least);
}

QRect TFormMain::NormalOuterGeometry() const {
  if (windowState() == Qt::WindowNoState) return frameGeometry();
  // A maximized window's normal geometry is kept by Qt; the frame is the one it had when normal.
  if (isMaximized() && FNormalFrameKnown && normalGeometry().isValid())
    return normalGeometry().marginsAdded(FNormalFrame);
  // Minimized (window managers move icons around), or never seen normal with its frame: the
  // normal frame it last had, or the one asked for.
  if (FWantedOuter.isValid()) return FWantedOuter;
  return normalGeometry().isValid() ? normalGeometry() : frameGeometry();
}

void TFormMain::ApplyPendingOuterGeometry() {
  // Only once the frame has a size: a window without a window manager never gets one.
  if (!FPendingOuter.isValid() || frameGeometry() == geometry() || isMaximized() || isMinimized()) return;
  const QRect outer = FPendingOuter;
  FPendingOuter = QRect();
  SetOuterGeometry(outer);
}

void TFormMain::moveEvent(QMoveEvent *event) {
  QMainWindow::moveEvent(event);
  ApplyPendingOuterGeometry();
  NoteNormalFrame();
}

void TFormMain::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  ApplyPendingOuterGeometry();
  NoteNormalFrame();
}

void TFormMain::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (FShownOnce) return;
  FShownOnce = true;
  // The frame is known only now: a window nobody has placed yet gets its design size again.
  if (geometry() == FDesignGeometry) PlaceAtDesignSize();
  // The stored placement and properties; a stored rectangle replaces the centred one.
  FormStorage1->Restore();
  // A window manager adds its frame after mapping without telling the widget (the inside may stay
  // where it is): look again a few times while the window settles.
  for (int ms : {50, 250, 1000})
    QTimer::singleShot(ms, this, [this] {
      ApplyPendingOuterGeometry();
      NoteNormalFrame();
    });
  FormShow(this);
}

bool TFormMain::ShowPageByName(const std::string &menuName) {
  const std::pair<const char *, QWidget *> pages[] = {
      {"Show", TabSheetShow},         {"Instrumente", TabSheetInstrumente}, {"Schnittstelle", TabSheetSchnittstelle},
      {"Terminal", TabSheetTerminal}, {"Optionen", TabSheetOptionen},       {"Hilfe", TabSheetHilfe}};
  for (const auto &[name, page] : pages) {
    if (menuName == name) {
      SetActivePage(page);
      return true;
    }
  }
  return false;
}

void TFormMain::FormShow(TObject * /*Sender*/) {
  // Leaving the Show page and entering it again runs its show handler at every start.
  SetActivePage(TabSheetOptionen);
  SetActivePage(TabSheetShow);
}

// Neither command catches: a port that will not open raises, and the signal wrapper shows it.
void TFormMain::ConnectSchnittstelle1Click() { ComPort1->SetConnected(true); }

void TFormMain::DisconnectSchnittstelle1Click() {
  ComReconnect1->Stop();
  ComPort1->SetConnected(false);
}
