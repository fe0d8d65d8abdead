// Start-up and the configuration dialog: OK, Cancel and closing at start-up and later, the
// address check, the port list, saves that cannot be made, where the built program keeps its
// settings, and a second start of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "AppTest.h"
#include "MainModule.h"
#include "windows/ConfigForm.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"
#include "windows/ToolbarButton.h"

using namespace MainModule;

class StartUpTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { apptest::ResetProgram(); }
    void okShowsTheMainWindowWhereTheDialogWas();
    void cancelEndsWithoutWriting();
    void addressCheck_data();
    void addressCheck();
    void storedPortStaysChosen_data();
    void storedPortStaysChosen();
    void okWhereTheFileCannotBeSaved_data();
    void okWhereTheFileCannotBeSaved();
    void okFromTheMainWindowRebuildsTheToolbar();
    void installedProgramKeepsItsSettings_data();
    void installedProgramKeepsItsSettings();
    void secondStartEndsSilently();

private:
    ConfigForm* startUp(const QByteArray& settings = {});
    QTemporaryDir dir_;
    QTimer* poll_ = Timers::instance().StatusCheckTimer;
};

void StartUpTest::init() {
    apptest::ResetProgram();
    SettingsFile = dir_.filePath(QStringLiteral("Varnix.txt"));
    QFile::remove(SettingsFile);
}

ConfigForm* StartUpTest::startUp(const QByteArray& settings) {
    if (!settings.isEmpty()) apptest::WriteFile(SettingsFile, settings);
    StartUp();
    ConfigForm* dialog = ConfigForm::current();
    const bool alone = dialog && dialog->isVisible() && !MainForm::instance()->isVisible();
    return alone && !poll_->isActive() ? dialog : nullptr;
}

void StartUpTest::okShowsTheMainWindowWhereTheDialogWas() {
    ConfigForm* dialog = startUp("[GENERAL]\r\nConnection=0\r\n[SERIAL]\r\nPort=COM7\r\n");
    QVERIFY(dialog);
    QCOMPARE(dialog->cmbSerial->currentText(), QStringLiteral("COM7"));
    QCOMPARE(dialog->cmbSerial->itemText(29), QStringLiteral("COM30"));
    const QPoint centre = dialog->frameGeometry().center();
    QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
    QVERIFY(apptest::ReadFile(SettingsFile)
                .startsWith("[GENERAL]\r\nConnection=1\r\n"
                            "[SERIAL]\r\nPort=COM7\r\n"));
    QVERIFY(MainForm::instance()->isVisible());
    QVERIFY((MainForm::instance()->frameGeometry().center() - centre).manhattanLength() <= 2);
    QVERIFY(poll_->isActive() && poll_->interval() == 10);  // COM1..: cleanup() stops it
}

// Cancel, and without a notification area (as offscreen) also the close box.
void StartUpTest::cancelEndsWithoutWriting() {
    for (const bool cancel : {true, false}) {
        if (!cancel && QSystemTrayIcon::isSystemTrayAvailable()) break;
        ConfigForm* dialog = startUp();
        QVERIFY(dialog);
        QCOMPARE(apptest::RunUntilEnd(
                     [=] { cancel ? dialog->cmdCancel->click() : void(dialog->close()); }),
                 0);
        QVERIFY(!QFile::exists(SettingsFile));
        QVERIFY(!MainForm::instance()->TrayIcon->isVisible());
        apptest::ResetProgram();
    }
}

void StartUpTest::addressCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << "";
    QTest::newRow("only spaces") << "   ";
    QTest::newRow("leading space, kept") << " 127.0.0.1";
}

void StartUpTest::addressCheck() {
    QFETCH(QString, typed);
    ConfigForm* dialog = startUp();
    QVERIFY(dialog);
    dialog->optTCP->click();
    QVERIFY(dialog->txtIPAddress->isEnabled() && !dialog->cmbSerial->isEnabled());
    dialog->txtIPAddress->clear();
    QTest::keyClicks(dialog->txtIPAddress, typed);
    apptest::ModalHand hand;
    dialog->cmdOK->click();
    if (!typed.trimmed().isEmpty()) {
        QCOMPARE(TcpAddress, typed);
        QVERIFY(apptest::ReadFile(SettingsFile).contains("IPAddress= 127.0.0.1\r\n"));
        return;
    }
    QCOMPARE(hand.seen.size(), 1);
    QCOMPARE(hand.seen[0].text, QStringLiteral("An IP Address is not specified."));
    QCOMPARE(hand.seen[0].caption, QStringLiteral("Lumeris"));
    QCOMPARE(hand.seen[0].icon, QMessageBox::Critical);
    QVERIFY(dialog->isVisible() && ConnectionType == 1 && !QFile::exists(SettingsFile));
}

void StartUpTest::storedPortStaysChosen_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("saved");  // by OK
    const auto row = [](const char* name, const QString& stored, const char* shown,
                        const char* saved) {
        QTest::newRow(name) << stored << QString(shown) << QString(saved);
    };
    row("unplugged adapter", "/dev/ttyUSB63", "/dev/ttyUSB63 (not present)", "/dev/ttyUSB63");
    row("by-id path", "/dev/serial/by-id/usb-A1-port0",
        "/dev/serial/by-id/usb-A1-port0 (not present)", "/dev/serial/by-id/usb-A1-port0");
    row("pseudo-terminal", "PTY", "PTY", "PTY");  // a real one, opened here
    row("beyond the list", "COM31", "COM31", "COM31");
    row("other case", "com3", "COM3", "COM3");
    row("empty", "", "COM1", "COM1");
}

void StartUpTest::storedPortStaysChosen() {
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, saved);
    const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0);
    for (QString* text : {&stored, &shown, &saved}) text->replace("PTY", ::ptsname(pty));
    ConfigForm* dialog = startUp("[SERIAL]\r\nPort=" + stored.toLocal8Bit() + "\r\n");
    QVERIFY(dialog);
    QCOMPARE(dialog->cmbSerial->currentText(), shown);
    QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
    ::close(pty);
    QVERIFY(apptest::ReadFile(SettingsFile).contains("\r\nPort=" + saved.toLocal8Bit() + "\r\n"));
}

namespace {

// Permission bits do not stop root: for the length of a test it acts as nobody, and may become
// root again because root stays the saved user.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::geteuid() != 0) return;
        dropped_ = ::setresgid(65534, 65534, 0) == 0 && ::setresuid(65534, 65534, 0) == 0;
    }
    ~AsOrdinaryUser() {
        if (dropped_) (void)(::setresuid(0, 0, 0) + ::setresgid(0, 0, 0));
    }
    bool ok() const { return dropped_ || ::geteuid() != 0; }

private:
    bool dropped_ = false;
};

}  // namespace

// The same bits for owner, group and others, so that they apply to whoever runs the program.
void StartUpTest::okWhereTheFileCannotBeSaved_data() {
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");  // -1: no file
    QTest::addColumn<bool>("saved");
    QTest::newRow("read-only folder, writable file: rewritten in place") << 0555 << 0666 << true;
    QTest::newRow("read-only folder, no file") << 0555 << -1 << false;
    QTest::newRow("read-only file") << 0777 << 0444 << false;
    QTest::newRow("unreadable file") << 0777 << 0222 << false;
}

void StartUpTest::okWhereTheFileCannotBeSaved() {
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QFETCH(bool, saved);
    QTemporaryDir scratch;
    const QString folder = scratch.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(folder));
    SettingsFile = folder + QStringLiteral("/Varnix.txt");
    const QByteArray before = "; by hand\r\n[SERIAL]\r\nPort=COM2\r\n";
    if (fileMode >= 0) {
        apptest::WriteFile(SettingsFile, before);
        QCOMPARE(::chmod(qPrintable(SettingsFile), mode_t(fileMode)), 0);
    }
    QCOMPARE(::chmod(qPrintable(folder), mode_t(folderMode)), 0);
    QCOMPARE(::chmod(qPrintable(scratch.path()), 0711), 0);
    QList<apptest::BoxSeen> boxes;
    {
        AsOrdinaryUser user;
        QVERIFY(user.ok());
        ConfigForm* dialog = startUp();
        QVERIFY(dialog);
        QTest::mouseClick(dialog->SSTab1->tabBar(), Qt::LeftButton, {},
                          dialog->SSTab1->tabBar()->tabRect(1).center());
        QTest::mouseClick(dialog->chkMute, Qt::LeftButton);
        apptest::ModalHand hand;
        QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
        boxes = hand.seen;
    }
    QCOMPARE(::chmod(qPrintable(folder), 0777), 0);
    if (fileMode >= 0) QCOMPARE(::chmod(qPrintable(SettingsFile), 0666), 0);
    const QByteArray after = apptest::ReadFile(SettingsFile);
    // Kept for the session either way.
    QVERIFY(MainForm::instance()->isVisible() && !ShowMuteButton);
    QVERIFY(MainForm::instance()->button(QStringLiteral("Mute")) == nullptr);
    if (saved) {
        QCOMPARE(boxes.size(), 0);
        QVERIFY(after.startsWith(before) && after.contains("\r\nMute=0\r\n"));
        return;
    }
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("Settings save Error!!"));
    QCOMPARE(boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(after, fileMode >= 0 ? before : QByteArray());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), fileMode >= 0 ? 1 : 0);
}

void StartUpTest::okFromTheMainWindowRebuildsTheToolbar() {
    apptest::Projector projector;
    QVERIFY(projector.started());
    projector.connectProgram();
    MainForm* main = MainForm::instance();
    main->show();
    poll_->start(5000);
    const int width = main->width();
    bool pausedAndShown = false;
    apptest::ModalHand hand;
    hand.onOtherModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<ConfigForm*>(modal);
        pausedAndShown = !poll_->isActive() && dialog->optTCP->isChecked() &&
                         dialog->txtPortNo->isReadOnly() && dialog->txtPortNo->text() == TcpPortNo;
        dialog->txtPortNo->setText(QStringLiteral("1"));  // no effect: the poll gets through
        dialog->chkMute->setChecked(false);
        dialog->cmdOK->click();
    };
    main->button(QStringLiteral("Configuration"))->click();

    QVERIFY(pausedAndShown);
    QVERIFY(main->button(QStringLiteral("Mute")) == nullptr && main->width() < width);
    QVERIFY(apptest::ReadFile(SettingsFile).contains("Mute=0\r\n"));
    QCOMPARE(poll_->interval(), 10);
    QTRY_COMPARE(projector.sent().size(), 4);
    QTRY_COMPARE(poll_->interval(), 5000);
}

// The built program copied into an installed layout (bin/ beside lib/) and confirmed with the
// Return key under a virtual X server: Varnix.txt beside it is used only when it is there
// already, else the user's file.
void StartUpTest::installedProgramKeepsItsSettings_data() {
    QTest::addColumn<bool>("beside");
    QTest::addColumn<QString>("variable");  // "XDG_CONFIG_HOME" or "HOME", set to the folder
    QTest::addColumn<QString>("saved");     // below the temporary folder
    QTest::newRow("user's file") << false << "XDG_CONFIG_HOME"
                                 << "varnex/Varnix.txt";
    QTest::newRow("no XDG_CONFIG_HOME") << false << "HOME"
                                        << ".config/varnex/Varnix.txt";
    QTest::newRow("file beside the program") << true << "XDG_CONFIG_HOME"
                                             << "bin/Varnix.txt";
}

void StartUpTest::installedProgramKeepsItsSettings() {
    QFETCH(bool, beside);
    QFETCH(QString, variable);
    QFETCH(QString, saved);
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty()) QSKIP("needs Xvfb and xdotool (scripts/install-deps)");
    QTemporaryDir root;
    const QDir top(root.path());
    QVERIFY(top.mkpath("bin") && top.mkpath("run") &&
            QFile::setPermissions(top.filePath("run"), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner));
    QVERIFY(QFile::copy(VARNEX_PROGRAM, top.filePath("bin/varnex")));
    QVERIFY(QFile::link(QFileInfo(VARNEX_PROGRAM).dir().filePath("../lib"), top.filePath("lib")));
    if (beside) apptest::WriteFile(top.filePath("bin/Varnix.txt"), "; mine\r\n");

    QProcess server;
    server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_CONFIG_HOME");
    environment.insert(variable, root.path());
    environment.insert("DISPLAY", ':' + QString::fromLatin1(server.readLine().trimmed()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("XDG_RUNTIME_DIR", top.filePath("run"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(top.filePath("bin/varnex"), QStringList());
    const auto xdo = [&](const QStringList& arguments) {
        QProcess hand;
        hand.setProcessEnvironment(environment);
        hand.start(xdotool, arguments);
        return hand.waitForFinished(20000) && hand.exitCode() == 0;
    };
    QVERIFY(xdo({"search", "--sync", "--onlyvisible", "--name", "^Configuration$", "windowfocus",
                 "--sync"}));
    QVERIFY(xdo({"key", "Return"}));
    QTRY_VERIFY_WITH_TIMEOUT(apptest::ReadFile(top.filePath(saved)).contains("Port=COM1"), 20000);
    program.kill();
    server.kill();
    program.waitForFinished(10000);
    server.waitForFinished(10000);
    if (beside) QVERIFY(apptest::ReadFile(top.filePath(saved)).startsWith("; mine\r\n[GENERAL]"));
    for (const char* place : {"bin/Varnix.txt", "varnex/Varnix.txt", ".config/varnex/Varnix.txt"})
        QCOMPARE(QFile::exists(top.filePath(place)), saved == place);
}

// The built program, offscreen, with a runtime folder of its own. A lock left by a killed
// program is taken over; a second start then ends at once, silently, and the first runs on.
void StartUpTest::secondStartEndsSilently() {
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess programs[3];
    for (QProcess& program : programs) {
        program.setProcessEnvironment(environment);
        program.setProgram(QStringLiteral(VARNEX_PROGRAM));
        program.setArguments({QStringLiteral("--settings"), runtime.filePath(QStringLiteral("V"))});
    }
    const auto ownerIs = [&](const QProcess& program) {
        const QByteArray lock = apptest::ReadFile(runtime.filePath(QStringLiteral("varnex.lock")));
        return lock.split('\n')[0] == QByteArray::number(program.processId());
    };
    auto& [dead, first, second] = programs;
    dead.start();
    QTRY_VERIFY_WITH_TIMEOUT(ownerIs(dead), 20000);
    dead.kill();
    QVERIFY(dead.waitForFinished(10000));
    first.start();
    QTRY_VERIFY_WITH_TIMEOUT(ownerIs(first), 20000);
    second.start();
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAll() + second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(10000);
}

QTEST_MAIN(StartUpTest)
#include "tst_startup.moc"
