// Start-up and the configuration dialog: OK, Cancel and closing at start-up and later, the
// address check, the port list, and a second start of the built program.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
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
    void okFromTheMainWindowRebuildsTheToolbar();
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
