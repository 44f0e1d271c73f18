#pragma once
// The program's one window: six pages switched from the main menu, the meters on the Show page,
// the instrument editor, the port page, the terminal page and the view options.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include "broker/BrokerLink.h"
#include "platform/Application.h"
#include "platform/Events.h"
#include "platform/Font.h"
#include "platform/FormatSettings.h"
#include "serial/ComPort.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class TComTerminal;
class TSendHistory;
class QTabWidget;
class QTextBrowser;
class QTimer;
class TRecorder;
class TStatusLine;
class TRateMeter;
class TDropLog;
class QDialog;
class TAnGradient;
class TAnVMeter;
class TColorBox;
class TComComboBox;
class TComDataPacket;
class TComLed;
class TComReconnect;
class TAnNumEdit;
class TAnTrend;
class TTrendHistory;
class QComboBox;
class TAppIniFileStorage;
class TFormStorage;
class TPropList;

// The stored properties of the main window, "Component.Property" in the order they are stored.
std::vector<std::string> FormMainStoredProps();
class TOneInstance;

// Integer tag of a component: the meters keep their own, other widgets carry it as the dynamic
// property "tag" (0 when never set).
int ComponentTag(const QObject *component);
void SetComponentTag(QObject *component, int tag);

// An editor field's 64-bit value as a meter's 32-bit range bound: beyond the float range it
// saturates (infinities too, a meter cannot use them); NaN gives nothing.
std::optional<float> FieldToFloat(double v);

// Sets the port's speed in bits per second: a rate the enumeration names becomes that member,
// any other rate brCustom with CustomBaudRate.
void SetPortSpeed(TCustomComPort &port, int32_t bitsPerSecond);

// Qt does not carry exceptions through its signal delivery: a handler connected to a signal runs
// inside this wrapper, and what it raises goes to the application's exception display.
template <class Handler> auto Guarded(Handler handler) {
  return [handler] { RunGuarded(handler); };
}

// The editor's flat instrument button (single-line frame, text red under the mouse). It is a
// TObject so that the shared click handler receives it as Sender and reads its tag.
class TFlatButton : public QPushButton, public TObject {
  Q_OBJECT
public:
  explicit TFlatButton(const QString &caption, QWidget *parent = nullptr);
  const char *ClassName() const override { return "TFlatButton"; }
};

class TFormMain : public QMainWindow, public TObject {
  Q_OBJECT
public:
  // settingsFile: the settings file to restore from and save to; empty for none (tests, the demo).
  explicit TFormMain(QWidget *parent = nullptr, const std::string &settingsFile = {});
  ~TFormMain() override;
  const char *ClassName() const override { return "TFormMain"; }

  // Looks a component up by its name among all of the window's descendants.
  template <class T> T *FindComponent(const QString &name) const { return findChild<T *>(name); }

  QWidget *ActivePage() const;
  // Makes the page the main menu names so ("Show", "Terminal", …) current; false for other names.
  bool ShowPageByName(const std::string &menuName);
  // Makes one of PageControl1's pages current; its show handler runs when the page changes.
  void SetActivePage(QWidget *page);

  // Outer size (frame included) and its setter, which keeps the window's position.
  QSize OuterSize() const;
  void SetOuterSize(int width, int height);
  // The meters' layout of a first start: two rows of five, 116 x 306 each.
  void ApplyFirstStartLayout();
  // Project files hold the stored settings of meters, colours and port, in the settings file's
  // format. Saving writes them; loading applies them at once. False with *error (a sentence) when
  // the file cannot be written, read, or is no Telmora settings file.
  bool SaveProject(const std::string &file, std::string *error);
  bool LoadProject(const std::string &file, std::string *error);
  // Places the window's outer frame; applied again once the window manager's frame is known.
  void SetOuterGeometry(const QRect &outer);
  // The outer frame the window has (or will have again) in its normal state, also while it is
  // maximized or minimized.
  QRect NormalOuterGeometry() const;

  // The stored texts of the Schnittstelle page, CR LF line breaks included.
  std::string SchnittstelleText() const;
  std::string ProtokollText() const;
  // Name of the port the terminal page shows: ComPort1's.
  std::string PortName() const;
  // Port name and speed chosen outside the Schnittstelle page (the command line): an empty name
  // and a speed of 0 keep what is set. The selection boxes then show the new values.
  void UsePort(const std::string &name, int32_t bitsPerSecond);

  // Handlers (Sender first, as every event of the program).
  void FormCreate(TObject *Sender);
  void FormShow(TObject *Sender);
  void TabSheetShowShow(TObject *Sender);
  void TabSheetInstrumenteShow(TObject *Sender);
  void TabSheetInstrumenteExit(TObject *Sender);
  void TabSheetTerminalShow(TObject *Sender);
  virtual void ConnectSchnittstelle1Click();
  virtual void DisconnectSchnittstelle1Click();
  void ButtonTerminalConnectClick(TObject *Sender);
  void ButtonTerminalDisconnectClick(TObject *Sender);
  void ButtonClearTerminalClick(TObject *Sender);
  void ButtonSendStringClick(TObject *Sender);
  void CButton1Click(TObject *Sender);
  void ButtonInstrWerteZuweisenClick(TObject *Sender);
  void ButtonSkalaFontClick(TObject *Sender);
  void ButtonInstrAktivierenClick(TObject *Sender);
  void ButtonSetStandardViewClick(TObject *Sender);
  void ControlMouseDown(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void ControlMouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
  void ControlMouseUp(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void ComDataPacket1Packet(TObject *Sender, const std::string &Str);
  // Told of every record the handler saw and the meter it set (null when it was dropped); the
  // command line's --trace prints these.
  std::function<void(const std::string &record, const TAnVMeter *meter)> OnMeasurement;

  // Recording (Datei menu, --record): every accepted record as a CSV line, with `raw` the dropped
  // ones too. A running recording ends first. False with *error when the file cannot be made.
  bool StartRecording(const std::string &file, bool raw, std::string *error, TWording wording = TWording::English);
  // Ends the recording; its writer finishes the file on its own thread.
  void StopRecording();
  bool Recording() const { return FRecorder != nullptr; }
  // The replay's progress ("Wiedergabe …"), shown as the state in the status line; "" when no
  // replay runs.
  void SetReplayStatus(const std::string &text);
  const std::string &ReplayStatus() const { return FReplayStatus; }

  // The broker link (Optionen page, group "MQTT"): a publisher sends every record a meter takes,
  // a panel takes the meters' values from the broker instead of the port. The password and the
  // CA file come from outside (the command line, the environment) and are never stored.
  void SetBrokerCredentials(const std::string &password, const std::string &caFile);
  // A broker chosen outside the page (the command line): `source` makes this window a panel of
  // the broker's values, otherwise it publishes to it. The page shows the choice; it is stored.
  void UseBroker(const std::string &url, bool source);
  // Starts, restarts or stops the link to match the page (also when the port and with it the
  // default prefix changed).
  void ApplyBrokerOptions();
  // The link in use, or null.
  const TBrokerLink *BrokerLink() const { return FBroker.get(); }
  // The topic prefix the link uses: the URL's, the page's, or telmora/<host>/<port>.
  std::string BrokerPrefix() const;
  // A panel's messages: each one checked as a serial record and given to its meter.
  void TakeBrokerMessages(std::vector<TBrokerMessage> &messages);
  // Told of every message a panel took or dropped: the text shown for it ("topic payload"), the
  // meter it set (null when dropped) and why it was dropped; the command line's --trace prints it.
  std::function<void(const std::string &text, const TAnVMeter *meter, const std::string &reason)> OnRemoteMeasurement;
  // Told, in --trace's English, when the link's state reads differently ("MQTT connected",
  // "MQTT disconnected: …") and when values were dropped since the last tick: once per change,
  // never per retry.
  std::function<void(const std::string &line)> OnBrokerEvent;
  // Twice a second while a link runs: descriptions, state, rates, status line.
  void BrokerTick();

  // True while ComPort1 lost its device and waits for it to come back (ComReconnect1).
  bool WaitingForDevice() const;
  // Told when that wait starts (true) and ends (false), after the lamps show it.
  std::function<void(bool Waiting)> OnWaitingForDevice;
  // The port went away and its return is awaited: the status line says so while the port is
  // closed.
  void SetWaitingForDevice(bool waiting);
  // The port is the built-in simulated device.
  void SetDemo(bool demo);
  // The port and framer the status line reports on: ComPort1 and ComDataPacket1 unless a test
  // rig feeds the window through its own.
  void SetStatusSource(TCustomComPort *port, TComDataPacket *framer);
  // Gathers the figures and shows them in the status line now (a timer does it twice a second).
  void UpdateStatusLine();
  // The milliseconds the status line's rates are sampled at (a steady clock; tests set their own).
  std::function<std::int64_t()> StatusClock;
  // The last dropped records with their time and reason, in a window of their own.
  void ShowDropLog();
  const TDropLog &DropLog() const { return *FDropLog; }
  TStatusLine *StatusLine1 = nullptr;

  // Drag state of the Show page (one set for the whole window).
  bool Dragging = false;
  std::int32_t DragStartX = 0;
  std::int32_t DragStartY = 0;

  // Editor selection; SelectedScaleFont points at the selected meter's scale font or at the
  // font dialog's font, both of which live as long as the window.
  int SelectedInstrumentNumber = 0;
  std::string SelectedInstrumentName;
  const TFont *SelectedScaleFont = nullptr;

  // The font dialog's own font: kept between dialogs, not preset from a meter.
  TFont FontDialog1Font;

  // Components, named as their objectName.
  TComPort *ComPort1 = nullptr;
  TComDataPacket *ComDataPacket1 = nullptr;
  TComReconnect *ComReconnect1 = nullptr;
  TAppIniFileStorage *AppIniFileStorage1 = nullptr;
  TFormStorage *FormStorage1 = nullptr;
  TOneInstance *OneInstance1 = nullptr;

  QMenu *Datei1 = nullptr;
  QAction *Projektladen1 = nullptr;
  QAction *Projektspeichern1 = nullptr;
  QAction *Aufzeichnungstarten1 = nullptr;
  QAction *Aufzeichnungbeenden1 = nullptr;
  QAction *Beenden1 = nullptr;
  QMenu *Show1 = nullptr;
  QAction *ConnectSchnittstelle1 = nullptr;
  QAction *DisconnectSchnittstelle1 = nullptr;
  QAction *ShowInstrumente1 = nullptr;
  QAction *Schnittstelle1 = nullptr;
  QAction *Terminal1 = nullptr;
  QAction *Optionen1 = nullptr;
  QAction *Hilfe1 = nullptr;

  QTabWidget *PageControl1 = nullptr;
  QWidget *TabSheetShow = nullptr;
  QWidget *TabSheetInstrumente = nullptr;
  QWidget *TabSheetSchnittstelle = nullptr;
  QWidget *TabSheetTerminal = nullptr;
  QWidget *TabSheetOptionen = nullptr;
  QWidget *TabSheetHilfe = nullptr;
  QTextBrowser *TextHilfe = nullptr;

  TAnGradient *AnGradient1 = nullptr;
  // Shown on the Show page while no meter is switched on.
  QLabel *LabelKeineInstrumente = nullptr;

  TComComboBox *ComComboBox1 = nullptr;
  TComComboBox *ComComboBox2 = nullptr;
  TComLed *ComLed2 = nullptr;
  QPushButton *ButtonConnectComPort1 = nullptr;
  QPushButton *ButtonDisConnectComPort1 = nullptr;

  QPushButton *ButtonClearTerminal = nullptr;
  TComLed *ComLed1 = nullptr;
  QLabel *LabelTerminal = nullptr;
  QLineEdit *EditTerminalSendString = nullptr;
  QPushButton *ButtonSendString = nullptr;
  // The lines sent from EditTerminalSendString, recalled there with Up and Down.
  TSendHistory *SendHistory1 = nullptr;
  QPushButton *ButtonTerminalConnect = nullptr;
  QPushButton *ButtonTerminalDisconnect = nullptr;
  TComTerminal *ComTerminal1 = nullptr;

  QPushButton *ButtonSetStandardView = nullptr;
  TColorBox *ColorBoxShowFarbeNach = nullptr;
  TColorBox *ColorBoxShowFarbeVon = nullptr;
  QCheckBox *CheckBoxAutomatischNeuVerbinden = nullptr;
  QGroupBox *GroupBoxMqtt = nullptr;
  QLineEdit *EditMqttBroker = nullptr;
  QLineEdit *EditMqttPraefix = nullptr;
  QCheckBox *CheckBoxMqttSenden = nullptr;
  QComboBox *ComboBoxMqttQoS = nullptr;
  QComboBox *ComboBoxMqttQuelle = nullptr;
  QLabel *LabelMqttHinweis = nullptr;

  QPushButton *ButtonInstrAktivieren = nullptr;
  QTabWidget *PageControl2 = nullptr;
  QWidget *TabSheetVertkalMeter = nullptr;
  QGroupBox *GroupBoxEditAnalogMeter = nullptr;
  QLineEdit *EditName = nullptr;
  TAnNumEdit *AnNumEditAWertVon = nullptr;
  TAnNumEdit *AnNumEditAWertBis = nullptr;
  QLineEdit *EditEinheit = nullptr;
  QLineEdit *EditAnzeigeFormat = nullptr;
  TAnNumEdit *AnNumEditBreite = nullptr;
  TAnNumEdit *AnNumEditHoehe = nullptr;
  TAnNumEdit *AnNumEditSkalaSteps = nullptr;
  TAnNumEdit *AnNumEditSkalaSubSteps = nullptr;
  QPushButton *ButtonSkalaFont = nullptr;
  TColorBox *ColorBoxInstrumentZeiger = nullptr;
  TColorBox *ColorBoxInstrBackground = nullptr;
  QPushButton *ButtonInstrWerteZuweisen = nullptr;

  // The trend charts Trend1 … Trend4 on the Show page and the history they draw from, which the
  // measurement handler feeds with every value a meter takes; their editor on the Trend tab.
  TTrendHistory *TrendHistory1 = nullptr;
  TAnTrend *Trend(int n) const;
  // Chart n on the Trend tab: the fields show its settings.
  void TrendSelect(int n);
  void ButtonTrendWerteZuweisenClick(TObject *Sender);
  QComboBox *ComboBoxTrendNummer = nullptr;
  QCheckBox *CheckBoxTrendAnzeigen = nullptr;
  QComboBox *ComboBoxTrendZeitraum = nullptr;
  QComboBox *ComboBoxTrendKanal[4] = {};
  TColorBox *ColorBoxTrendFarbe[4] = {};
  QCheckBox *CheckBoxTrendAchseAuto = nullptr;
  TAnNumEdit *AnNumEditTrendAchseVon = nullptr;
  TAnNumEdit *AnNumEditTrendAchseBis = nullptr;
  TAnNumEdit *AnNumEditTrendBreite = nullptr;
  TAnNumEdit *AnNumEditTrendHoehe = nullptr;
  TColorBox *ColorBoxTrendHintergrund = nullptr;
  QPushButton *ButtonTrendWerteZuweisen = nullptr;

protected:
  // Asks for a project file (".ini"); empty when the user cancels.
  virtual std::string ChooseProjectFile(bool forSaving);
  // Asks for the file to record into and whether dropped records go in too; false on cancel.
  virtual bool ChooseRecordingFile(std::string &file, bool &raw);
  void showEvent(QShowEvent *event) override;
  // Saves the settings and writes the file when the window closes.
  void closeEvent(QCloseEvent *event) override;
  void moveEvent(QMoveEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
  // Opens the font dialog on `font` and, when the user confirms, stores the choice in it.
  virtual bool ExecuteFontDialog(TFont &font);

private:
  // A font of the design data: Windows face name and height (negative: pixels).
  static QFont DesignFont(const char *name, int height, TFontStyles style = 0);
  void BuildMenu();
  void BuildSerialComponents();
  void BuildShowPage();
  void BuildInstrumentePage();
  void BuildSchnittstellePage();
  void BuildTerminalPage();
  void BuildOptionenPage();
  void BuildReconnect();
  QWidget *BuildReconnectOption(QWidget *parent);
  QWidget *BuildBrokerOptions(QWidget *parent);
  void RestoreBrokerSettings(TFormStorage &storage);
  void SaveBrokerSettings(TFormStorage &storage);
  // The link's settings as the page and the credentials give them; false with *why when the
  // page's URL or prefix is unusable.
  bool WantedBroker(TBrokerSettings &settings, std::string *why) const;
  void StopBroker();
  // A record a meter took goes to the broker (publisher only).
  void PublishRecord(std::int32_t instrument, float value);
  void ShowWaitingForDevice(bool waiting);
  void RestoreReconnectSetting(TFormStorage &storage);
  void SaveReconnectSetting(TFormStorage &storage);
  QWidget *AddPage(const char *name, const char *caption);
  // Fills the page with a scroll area and returns the widget inside it, for the page's layout.
  QWidget *ScrollablePage(QWidget *page);
  TAnVMeter *CreateMeter(int number, int left, int top);
  TAnVMeter *SelectedMeter() const;
  void PageChanged(int index);
  void FocusChanged(QWidget *old, QWidget *now);
  void PlaceAtDesignSize();
  void BuildSettingsStorage(const std::string &fileName);
  bool ResolveStoredProp(const std::string &component, const std::string &property, TPropList &list);
  void SaveSettingsOnDestroy();
  void AfterStoredPropsRestored(TFormStorage &storage);
  void AfterStoredPropsSaved(TFormStorage &storage);
  void BuildTrends();
  void BuildTrendEditor();
  void RestoreTrendSettings(TFormStorage &storage);
  void SaveTrendSettings(TFormStorage &storage);
  // Copies the storage's rules (what is stored and how) onto a storage of another file.
  void ConfigureLike(TFormStorage &other, const std::string &propsPath) const;
  void BuildHilfePage();
  void ProjektspeichernClick();
  void ProjektladenClick();
  QString FLastProjectFolder;
  void BuildNoMeterHint();
  void UpdateNoMeterHint();
  // Outer geometry still to be applied once the frame's size is known (a window manager adds it
  // only after the window is mapped); invalid when nothing is pending.
  void ApplyPendingOuterGeometry();
  QRect FPendingOuter;
  // The outer rectangle last asked for or last seen in the normal state, and the frame the window
  // manager gives a normal window (known once the window was seen in that state with a frame).
  QRect FWantedOuter;
  QMargins FNormalFrame;
  bool FNormalFrameKnown = false;
  void NoteNormalFrame();

  // The meter a record addresses, found by its composed name once and then remembered (a
  // destroyed meter clears its entry, so the next record looks it up again).
  TAnVMeter *PacketTarget(std::int32_t number);
  QPointer<TAnVMeter> FPacketTargets[11];

  // The recording the measurement handler feeds; ended ones stay until their writer is done.
  void AufzeichnungstartenClick();
  void RecordingTick();
  std::unique_ptr<TRecorder> FRecorder;
  std::vector<std::unique_ptr<TRecorder>> FClosingRecorders;
  QTimer *FRecordingTimer = nullptr;
  std::string FReplayStatus;

  void BuildStatusLine();
  std::unique_ptr<TDropLog> FDropLog;
  // Every record the measurement handler saw; read twice a second for the rate.
  std::uint64_t FRecordsSeen = 0;
  bool FWaitingForDevice = false;
  bool FDemo = false;
  QTimer *FStatusTimer = nullptr;
  std::unique_ptr<TComLink> FStatusLink;
  QPointer<TCustomComPort> FStatusPort;
  QPointer<TComDataPacket> FStatusFramer;
  QPointer<QDialog> FDropLogDialog;
  std::unique_ptr<TRateMeter> FRateMeter;

  bool FShownOnce = false;
  QRect FDesignGeometry;

  std::unique_ptr<TBrokerLink> FBroker;
  TBrokerSettings FBrokerSettings; // what FBroker was started with
  std::string FBrokerPassword, FBrokerCaFile;
  QTimer *FBrokerTimer = nullptr;
  QTimer *FBrokerFlush = nullptr; // hands a batch over once the records of one delivery are in
  std::string FBrokerEvent;       // the state last told OnBrokerEvent
  std::uint64_t FBrokerDroppedTold = 0;
  TBrokerCounts FBrokerSample;
  std::int64_t FBrokerSampleMs = 0;
  double FBrokerSentRate = 0, FBrokerDroppedRate = 0, FBrokerReceivedRate = 0;
  bool FSourceOffline = false;
};
