// The serial port with its framer, the Schnittstelle page (port choice and protocol
// description) and the Terminal page.
#include "app/window/FormMain.h"
#include "app/window/SendHistory.h"
#include "serial/ComTerminal.h"

#include "serial/ComControls.h"
#include "serial/ComDataPacket.h"
#include "serial/ComReconnect.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

const char *const SchnittstelleLines[] = {
    "Die möglichen ComPorts werden",
    "automatisch detektiert.",
    "",
    "Die Schnittstelle ist fest eingestellt auf:",
    "",
    "8 DataBit",
    "1 Stopbit",
    "No Parity",
    "Keine Hard- oder Software-Flusskontrolle",
};

const char *const ProtokollLines[] = {
    "Das Protokoll      #iMm<     als String",
    "hat folgende Parameter:",
    "#   -  Identifier Messwertübertragung",
    "i   -  gewünschte Instrumenten Nummer",
    "M  -  Identifier für Messwert",
    "m  -  Messwert",
    "<  -  Ende eines Datensatzes ",
    "",
    "Messwerte können belibig aneinander gereit",
    "oder gemischt inzeln übertragen werden. ",
    "#iMm<#iMm<#iMm<#iMm<",
    "",
    "Dieses Programm erwartet alle seriellen ",
    "Daten als Strings vom Mikrokontroller.",
    "und sähe mit wirlichen Werten z.B. so aus:",
    "#8M25.5<#2M1.34564<",
};

template <std::size_t N> std::string JoinCrLf(const char *const (&lines)[N]) {
  std::string s;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) s += "\r\n";
    s += lines[i];
  }
  return s;
}

// A label shows the stored CR LF text with plain line breaks.
QString LabelText(const std::string &stored) {
  return QString::fromStdString(stored).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QLabel *BoldLabel(const char *name, const std::string &text, QWidget *parent) {
  auto *l = new QLabel(LabelText(text), parent);
  l->setObjectName(QString::fromLatin1(name));
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return l;
}

// A green connection lamp, created loading: it reads its port once the window is complete.
TComLed *ConnectionLed(const char *name, QWidget *parent) {
  auto *led = new TComLed(parent);
  led->setObjectName(QString::fromLatin1(name));
  led->BeginLoading();
  led->SetLedSignal(lsConn);
  led->SetKind(lkGreenLight);
  led->setFixedSize(led->sizeHint());
  return led;
}

TComComboBox *PortBox(const char *name, TComProperty property, TCustomComPort *port, QWidget *parent) {
  auto *box = new TComComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->SetComProperty(property);
  box->SetAutoApply(true);
  box->SetComPort(port);
  return box;
}

QPushButton *Button(const char *name, const char *caption, QWidget *parent) {
  auto *b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

} // namespace

std::string TFormMain::SchnittstelleText() const { return JoinCrLf(SchnittstelleLines); }

std::string TFormMain::ProtokollText() const { return JoinCrLf(ProtokollLines) + "\r\n\r\n\r\n\r\n\r\n"; }

std::string TFormMain::PortName() const { return ComPort1->Port(); }

void SetPortSpeed(TCustomComPort &port, int32_t bitsPerSecond) {
  for (int member = br110; member <= br256000; ++member) {
    if (BaudRateValue(TBaudRate(member)) == static_cast<uint32_t>(bitsPerSecond)) {
      port.SetBaudRate(TBaudRate(member));
      return;
    }
  }
  // The rate first: an open port then applies the line settings once, at the right speed.
  port.SetCustomBaudRate(bitsPerSecond);
  port.SetBaudRate(brCustom);
}

void TFormMain::UsePort(const std::string &name, int32_t bitsPerSecond) {
  if (!name.empty()) ComPort1->SetPort(name);
  if (bitsPerSecond > 0) SetPortSpeed(*ComPort1, bitsPerSecond);
  ComComboBox1->Select().SelectPortValue();
  ComComboBox2->Select().SelectPortValue();
  ComReconnect1->PortChosen();
  // A closed port's status line is refreshed by nothing else: it shows the port that will be used.
  UpdateStatusLine();
}

void TFormMain::BuildSerialComponents() {
  ComPort1 = new TComPort(this);
  ComPort1->setObjectName(QStringLiteral("ComPort1"));
  ComPort1->SetHintWording(TWording::German); // its failures are shown in the window
  ComPort1->BeginLoading();
  ComPort1->SetPort("COM10");
  ComPort1->SetBaudRate(br19200);
  ComPort1->SetDataBits(dbEight);
  ComPort1->SetStopBits(sbOneStopBit);
  ComPort1->Parity().SetBits(prNone);
  TComFlowControl &flow = ComPort1->FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  ComPort1->SetEventChar('0');
  ComPort1->SetEvents({evRxChar, evTxEmpty, evRxFlag, evCTS, evDSR, evRx80Full});
  ComPort1->SetStoredProps({spBasic});
  // Before the framer attaches: with a block consumer linked the port refuses this setting.
  ComPort1->SetTriggersOnRxChar(false);
  ComPort1->SetConnected(false);

  ComDataPacket1 = new TComDataPacket(this);
  ComDataPacket1->setObjectName(QStringLiteral("ComDataPacket1"));
  ComDataPacket1->BeginLoading();
  ComDataPacket1->SetComPort(ComPort1);
  ComDataPacket1->SetStartString("#");
  ComDataPacket1->SetStopString("<");
  ComDataPacket1->SetIncludeStrings(true);
  ComDataPacket1->OnPacket = [this](TObject *Sender, const std::string &Str) { ComDataPacket1Packet(Sender, Str); };
}

void TFormMain::BuildSchnittstellePage() {
  auto *page = new QHBoxLayout(ScrollablePage(TabSheetSchnittstelle));

  auto *port = new QGroupBox(QStringLiteral("  Serielle Schnittstelle  "), TabSheetSchnittstelle);
  port->setObjectName(QStringLiteral("GroupBoxSerielleSchnittstelle"));
  auto *grid = new QGridLayout(port);
  auto *labelPort = new QLabel(QStringLiteral("Com Port"), port);
  labelPort->setObjectName(QStringLiteral("LabelComPort"));
  ComComboBox1 = PortBox("ComComboBox1", cpPort, ComPort1, port);
  auto *labelBaud = new QLabel(QStringLiteral("Baud Rate"), port);
  labelBaud->setObjectName(QStringLiteral("LabelBaudRate"));
  ComComboBox2 = PortBox("ComComboBox2", cpBaudRate, ComPort1, port);
  ComComboBox1->OnChange = ComComboBox2->OnChange = [this](TObject *) { UpdateStatusLine(); };
  ComLed2 = ConnectionLed("ComLed2", port);
  ComLed2->SetComPort(ComPort1);
  ButtonConnectComPort1 = Button("ButtonConnectComPort1", "Connect", port);
  connect(ButtonConnectComPort1, &QPushButton::clicked, this, Guarded([this] { ConnectSchnittstelle1Click(); }));
  ButtonDisConnectComPort1 = Button("ButtonDisConnectComPort1", "Disconnect", port);
  connect(ButtonDisConnectComPort1, &QPushButton::clicked, this,
          Guarded([this] { DisconnectSchnittstelle1Click(); }));
  grid->addWidget(labelPort, 0, 0);
  grid->addWidget(ComComboBox1, 0, 1);
  grid->addWidget(ComLed2, 0, 2);
  grid->addWidget(labelBaud, 1, 0);
  grid->addWidget(ComComboBox2, 1, 1);
  grid->addWidget(ButtonConnectComPort1, 2, 0);
  grid->addWidget(ButtonDisConnectComPort1, 2, 1);
  grid->addWidget(BoldLabel("LabelSchnittstelle", SchnittstelleText(), port), 3, 0, 1, 3);
  grid->setRowStretch(4, 1);
  page->addWidget(port);

  auto *protocol = new QGroupBox(QStringLiteral("  Protokoll / Daten-Format  "), TabSheetSchnittstelle);
  protocol->setObjectName(QStringLiteral("GroupBoxProtokoll"));
  auto *box = new QVBoxLayout(protocol);
  box->addWidget(BoldLabel("LabelProtokoll", ProtokollText(), protocol));
  box->addStretch(1);
  page->addWidget(protocol);
  page->addStretch(1);
}

void TFormMain::BuildTerminalPage() {
  auto *page = new QVBoxLayout(TabSheetTerminal);
  auto *row = new QHBoxLayout;
  ButtonClearTerminal = Button("ButtonClearTerminal", "Clear", TabSheetTerminal);
  connect(ButtonClearTerminal, &QPushButton::clicked, this, [this] { ButtonClearTerminalClick(this); });
  ComLed1 = ConnectionLed("ComLed1", TabSheetTerminal);
  ComLed1->SetComPort(ComPort1);
  LabelTerminal = new QLabel(QStringLiteral("xxx"), TabSheetTerminal);
  LabelTerminal->setObjectName(QStringLiteral("LabelTerminal"));
  EditTerminalSendString = new QLineEdit(TabSheetTerminal);
  EditTerminalSendString->setObjectName(QStringLiteral("EditTerminalSendString"));
  SendHistory1 = new TSendHistory(EditTerminalSendString);
  ButtonSendString = Button("ButtonSendString", "Send String", TabSheetTerminal);
  const auto send = Guarded([this] { ButtonSendStringClick(this); });
  connect(ButtonSendString, &QPushButton::clicked, this, send);
  // Enter in the field sends as the button does, also while a closed port has it disabled: the
  // user then learns why nothing went out.
  connect(EditTerminalSendString, &QLineEdit::returnPressed, this, send);
  ButtonTerminalConnect = Button("ButtonTerminalConnect", "Connect", TabSheetTerminal);
  connect(ButtonTerminalConnect, &QPushButton::clicked, this, Guarded([this] { ButtonTerminalConnectClick(this); }));
  ButtonTerminalDisconnect = Button("ButtonTerminalDisconnect", "Disconnect", TabSheetTerminal);
  connect(ButtonTerminalDisconnect, &QPushButton::clicked, this,
          Guarded([this] { ButtonTerminalDisconnectClick(this); }));
  row->addWidget(ButtonClearTerminal);
  row->addWidget(ComLed1);
  row->addWidget(LabelTerminal);
  row->addWidget(EditTerminalSendString, 1);
  row->addWidget(ButtonSendString);
  row->addWidget(ButtonTerminalConnect);
  row->addWidget(ButtonTerminalDisconnect);
  page->addLayout(row);

  // After ComDataPacket1, so the meters hear every block before the terminal shows it.
  ComTerminal1 = new TComTerminal(TabSheetTerminal);
  ComTerminal1->setObjectName(QStringLiteral("ComTerminal1"));
  ComTerminal1->BeginLoading();
  ComTerminal1->SetColumns(200);
  ComTerminal1->SetRows(100);
  ComTerminal1->SetWrapLines(true);
  ComTerminal1->SetEmulation(teNone);
  ComTerminal1->SetScrollBars(ssBoth);
  ComTerminal1->SetColor(clCream);
  TFont font;
  font.SetName("Courier");
  font.SetHeight(-17);
  font.SetStyle(fsBold);
  font.SetColor(clBlack);
  font.SetCharset(ANSI_CHARSET);
  ComTerminal1->SetFont(font);
  ComTerminal1->SetComPort(ComPort1);
  ComTerminal1->Loaded();
  page->addWidget(ComTerminal1, 1);
}

void TFormMain::TabSheetTerminalShow(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(true);
  LabelTerminal->setText(QString::fromStdString(PortName()));
  ComTerminal1->EraseAll();
}

// The terminal's Connected opens or closes the port it is bound to, ComPort1.
void TFormMain::ButtonTerminalConnectClick(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(true);
  ComTerminal1->SetConnected(true);
}

void TFormMain::ButtonTerminalDisconnectClick(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(false);
  ComReconnect1->Stop();
  ComTerminal1->SetConnected(false);
}

void TFormMain::ButtonClearTerminalClick(TObject * /*Sender*/) { ComTerminal1->EraseAll(); }

void TFormMain::ButtonSendStringClick(TObject * /*Sender*/) {
  if (!ComPort1->Connected())
    throw EComPort(CEPortNotOpen + 1, "Zuerst mit „Connect“ " + PortName() + " öffnen, dann erneut senden.");
  const QString text = EditTerminalSendString->text();
  ComTerminal1->TransmitLine(TComTerminal::TypedBytes(text));
  SendHistory1->Add(text);
  EditTerminalSendString->clear();
}
