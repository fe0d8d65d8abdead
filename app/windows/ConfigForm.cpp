#include "ConfigForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "MainModule.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"

using namespace MainModule;

namespace {

QPointer<ConfigForm> theConfigForm;

// The dialog was designed in twips, 15 to a pixel.
QRect Twips(int left, int top, int width, int height) {
    constexpr int kTwipsPerPixel = 15;
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

// A control whose text needs more height than designed (a larger desktop font) grows evenly
// up and down, so that it stays centred where it was meant to be.
void Place(QWidget* widget, QRect area) {
    const int missing = widget->sizeHint().height() - area.height();
    if (missing > 0) area.adjust(0, -missing / 2, 0, missing - missing / 2);
    widget->setGeometry(area);
}

// COM1 to COM30 (the library opens COMn as /dev/ttyS(n-1)), then the USB serial adapters that
// are plugged in, which those names do not reach.
QStringList SerialPortNames() {
    QStringList names;
    for (int n = 1; n <= 30; ++n) names << QStringLiteral("COM%1").arg(n);
    QStringList devices = QDir(QStringLiteral("/dev"))
                              .entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                         QDir::System | QDir::Files);
    static const QRegularExpression kNumbered(QStringLiteral("^(\\D*)(\\d+)$"));
    const auto order = [](const QString& a, const QString& b) {
        const auto ma = kNumbered.match(a);
        const auto mb = kNumbered.match(b);
        if (!ma.hasMatch() || !mb.hasMatch() || ma.captured(1) != mb.captured(1)) return a < b;
        return ma.captured(2).toULongLong() < mb.captured(2).toULongLong();
    };
    std::sort(devices.begin(), devices.end(), order);
    for (const QString& device : devices) names << QStringLiteral("/dev/") + device;
    return names;
}

// A window that was never shown has no frame yet; the guess is the one it will get.
QSize FrameSize(const QWidget* window, const QMargins& guess) {
    if (window->frameGeometry() != window->geometry()) return window->frameGeometry().size();
    return window->size().grownBy(guess);
}

}  // namespace

struct ConfigForm::ShowBox {
    QCheckBox* ConfigForm::*box;
    const char* name;
    const char* caption;
    bool* shown;
    int left;
    int top;
};

const ConfigForm::ShowBox ConfigForm::kShowBoxes[] = {
    {&ConfigForm::chkPower, "chkPower", "&Power", &ShowPowerButton, 360, 600},
    {&ConfigForm::chkM1D, "chkM1D", "&M1-D", &ShowM1DButton, 1680, 600},
    {&ConfigForm::chkRGB, "chkRGB", "&RGB", &ShowRGBButton, 1680, 960},
    {&ConfigForm::chkBNC, "chkBNC", "&BNC", &ShowBNCButton, 1680, 1320},
    {&ConfigForm::chkComponent, "chkComponent", "&Component", &ShowComponentButton, 1680, 1680},
    {&ConfigForm::chkSVideo, "chkSVideo", "&S-Video", &ShowSVideoButton, 1680, 2040},
    {&ConfigForm::chkVideo, "chkVideo", "&Video", &ShowVideoButton, 1680, 2400},
    {&ConfigForm::chkBlank, "chkBlank", "B&lank", &ShowBlankButton, 3000, 600},
    {&ConfigForm::chkMute, "chkMute", "M&ute", &ShowMuteButton, 3000, 960},
};

ConfigForm::ConfigForm(QWidget* owner) : QDialog(owner) {
    theConfigForm = this;
    setObjectName(QStringLiteral("ConfigForm"));
    setWindowTitle(QStringLiteral("Configuration"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Twips(0, 0, 4575, 3480).size());
    createTabs();
    createConnectionPage();
    createButtonsPage();
    createButtons();
    PositionForm(this);
    showSettings();
}

ConfigForm::~ConfigForm() = default;

ConfigForm* ConfigForm::current() { return theConfigForm; }

void ConfigForm::createTabs() {
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->setGeometry(Twips(0, 0, 4575, 3015));
}

void ConfigForm::createConnectionPage() {
    auto* page = new QWidget;
    SSTab1->addTab(page, QStringLiteral("Connection"));
    // The design measures from the tab control's top, above the tabs themselves.
    const QPoint origin(0, -SSTab1->tabBar()->sizeHint().height());

    optSerial = new QRadioButton(QStringLiteral("&Serial"), page);
    optSerial->setObjectName(QStringLiteral("optSerial"));
    Place(optSerial, Twips(360, 600, 975, 345).translated(origin));

    cmbSerial = new QComboBox(page);
    cmbSerial->setObjectName(QStringLiteral("cmbSerial"));
    for (const QString& name : SerialPortNames()) cmbSerial->addItem(name, name);
    Place(cmbSerial, Twips(1440, 630, 975, 300).translated(origin));
    // At the designed width a desktop font cuts "COM30" to what reads as "COM3": the list grows
    // to its longest name, as far as the free row to its right allows.
    const int roomToTheRight = width() - cmbSerial->x() - 8;
    const int longestName = cmbSerial->sizeHint().width();
    cmbSerial->resize(std::clamp(longestName, cmbSerial->width(), roomToTheRight),
                      cmbSerial->height());

    optTCP = new QRadioButton(QStringLiteral("&TCP"), page);
    optTCP->setObjectName(QStringLiteral("optTCP"));
    Place(optTCP, Twips(360, 1080, 855, 345).translated(origin));

    lblIPAddress = new QLabel(QStringLiteral("&IP Address"), page);
    lblIPAddress->setObjectName(QStringLiteral("lblIPAddress"));
    Place(lblIPAddress, Twips(1440, 1140, 960, 180).translated(origin));

    txtIPAddress = new QLineEdit(QStringLiteral("255.255.255.255"), page);
    txtIPAddress->setObjectName(QStringLiteral("txtIPAddress"));
    txtIPAddress->setMaxLength(15);
    Place(txtIPAddress, Twips(2400, 1080, 1575, 300).translated(origin));
    lblIPAddress->setBuddy(txtIPAddress);

    Label1 = new QLabel(QStringLiteral("&PortNo"), page);
    Label1->setObjectName(QStringLiteral("Label1"));
    Place(Label1, Twips(1440, 1440, 960, 180).translated(origin));

    // Shows the port in use, which only the settings file changes; typing here would suggest
    // otherwise.
    txtPortNo = new QLineEdit(QStringLiteral("23"), page);
    txtPortNo->setObjectName(QStringLiteral("txtPortNo"));
    txtPortNo->setMaxLength(5);
    txtPortNo->setReadOnly(true);
    Place(txtPortNo, Twips(2400, 1440, 615, 300).translated(origin));
    // Five digits in a larger desktop font need more room than designed.
    const int fiveDigits = txtPortNo->fontMetrics().horizontalAdvance(QStringLiteral("00000"));
    txtPortNo->resize(std::max(txtPortNo->width(), fiveDigits + 12), txtPortNo->height());
    Label1->setBuddy(txtPortNo);

    connect(optSerial, &QRadioButton::toggled, this, [this](bool on) {
        if (on) chooseSerial();
    });
    connect(optTCP, &QRadioButton::toggled, this, [this](bool on) {
        if (on) chooseTcp();
    });
}

void ConfigForm::createButtonsPage() {
    auto* page = new QWidget;
    SSTab1->addTab(page, QStringLiteral("Show Buttons"));
    const QPoint origin(0, -SSTab1->tabBar()->sizeHint().height());
    for (const ShowBox& row : kShowBoxes) {
        auto* box = new QCheckBox(QString::fromLatin1(row.caption), page);
        box->setObjectName(QString::fromLatin1(row.name));
        Place(box, Twips(row.left, row.top, 1215, 255).translated(origin));
        // A caption wider than designed may run on to the right: the long ones stand in rows
        // that the third column leaves free.
        box->resize(std::max(box->width(), box->sizeHint().width()), box->height());
        this->*row.box = box;
    }
}

void ConfigForm::createButtons() {
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(Twips(960, 3060, 1095, 375));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(Twips(2520, 3060, 1095, 375));
    connect(cmdOK, &QPushButton::clicked, this, &ConfigForm::confirm);
    connect(cmdCancel, &QPushButton::clicked, this, &ConfigForm::cancel);
}

void ConfigForm::showSettings() {
    SSTab1->setCurrentIndex(0);
    if (ConnectionType == 2) {
        optTCP->setChecked(true);
        chooseTcp();
    } else {
        optSerial->setChecked(true);
        chooseSerial();
    }
    selectPort(SerialPortName);
    // A name set by hand in the settings file may be longer than anyone would type; it is
    // shown whole, so that OK does not store it cut short.
    txtIPAddress->setMaxLength(int(std::max<qsizetype>(15, TcpAddress.size())));
    txtIPAddress->setText(TcpAddress);
    txtPortNo->setMaxLength(int(std::max<qsizetype>(5, TcpPortNo.size())));
    txtPortNo->setText(TcpPortNo);
    for (const ShowBox& row : kShowBoxes) (this->*row.box)->setChecked(*row.shown);
}

// A stored port that the list does not hold (an adapter unplugged at start-up, a pseudo-
// terminal, COM31) joins the list and stays chosen, so that OK does not store another one. A
// device path that is not there is marked so; the entry's data keeps the name itself.
void ConfigForm::selectPort(const QString& name) {
    if (name.isEmpty()) {
        cmbSerial->setCurrentIndex(0);
        return;
    }
    // COMn names are the system's and are the same in any case; device paths are not.
    static const QRegularExpression kComName(QStringLiteral("^COM\\d+$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const bool comName = kComName.match(name).hasMatch();
    for (int i = 0; i < cmbSerial->count(); ++i) {
        const QString entry = cmbSerial->itemData(i).toString();
        if (entry.compare(name, comName ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0) {
            cmbSerial->setCurrentIndex(i);
            return;
        }
    }
    const bool missing = name.startsWith(QLatin1Char('/')) && !QFileInfo::exists(name);
    cmbSerial->addItem(missing ? name + QStringLiteral(" (not present)") : name, name);
    cmbSerial->setCurrentIndex(cmbSerial->count() - 1);
}

void ConfigForm::chooseSerial() {
    cmbSerial->setEnabled(true);
    txtIPAddress->setEnabled(false);
}

void ConfigForm::chooseTcp() {
    cmbSerial->setEnabled(false);
    txtIPAddress->setEnabled(true);
}

void ConfigForm::confirm() {
    if (optSerial->isChecked()) {
        ConnectionType = 1;
        SerialPortName = cmbSerial->currentData().toString();
        ApplyConnection();
    } else if (optTCP->isChecked()) {
        if (txtIPAddress->text().trimmed().isEmpty()) {
            ShowErrorBox(this, QStringLiteral("An IP Address is not specified."));
            return;
        }
        ConnectionType = 2;
        TcpAddress = txtIPAddress->text();
        ApplyConnection();
    }
    for (const ShowBox& row : kShowBoxes) *row.shown = (this->*row.box)->isChecked();
    // The choices apply for this session even when they cannot be kept.
    if (!SaveSettings()) ShowErrorBox(this, QStringLiteral("Settings save Error!!"));

    MainForm* main = MainForm::instance();
    if (!main->isVisible()) {
        // Start-up: the main window appears where the dialog was.
        const QRect place = frameGeometry();
        const QRect screenArea = screen()->availableGeometry();
        const QMargins frame =
            windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
        accept();
        main->move(CentredOn(place, FrameSize(main, frame), screenArea));
        main->show();
    } else {
        accept();
    }
    BuildToolbar();
}

void ConfigForm::cancel() {
    if (MainForm::instance()->isVisible()) {
        reject();
        return;
    }
    EndProgram();
}

void ConfigForm::done(int result) {
    const bool closedAtStartUp = result == Rejected && !MainForm::instance()->isVisible();
    QDialog::done(result);
    // With no notification area, a start-up dialog closed without OK would leave the program
    // running with no window to reach it by; it ends as Cancel does.
    if (closedAtStartUp && !QSystemTrayIcon::isSystemTrayAvailable()) {
        EndProgram();
        return;
    }
    StatusPollBusy = false;
    Timers::instance().StatusCheckTimer->start(10);
}
