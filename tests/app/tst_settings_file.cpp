// The settings file: the reading and writing rules of the file module, and what LoadSettings
// and SaveSettings make of it (the library's own ZV_GetConnection witnesses the link).
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <climits>

#include "AppTest.h"
#include "MainModule.h"
#include "ProfileFile.h"
#include "zolvane.h"

using namespace MainModule;

namespace {

// The library's link as "type first second".
QString LibraryLink() {
    uint16_t type = 0;
    char first[256] = {};
    char second[256] = {};
    if (ZV_GetConnection(&type, first, 255, second, 255) == 0) return {};
    return QStringLiteral("%1 %2 %3").arg(type).arg(first, second);
}

}  // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void read_data();
    void read();
    void write_data();
    void write();
    void saveReplacesTheFileAsAWhole();
    void noFileGivesDefaultsAndTheSerialLink();
    void linkKindDecidesTheLibraryCall_data();
    void linkKindDecidesTheLibraryCall();
    void savesKeepHandSetKeys();

private:
    QTemporaryDir dir_;
};

void SettingsFileTest::init() {
    apptest::ResetProgram();
    SettingsFile = dir_.filePath(QStringLiteral("Varnix.txt"));
    QFile::remove(SettingsFile);
}

void SettingsFileTest::read_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text");  // TCP/PortNo as text, fallback "none"
    QTest::addColumn<int>("number");    // and as a number, fallback 7
    const auto row = [](const char* name, const QByteArray& content, const QByteArray& text,
                        int n) {
        QTest::newRow(name) << content << QString::fromLatin1(text) << n;
    };
    row("plain", "[TCP]\r\nPortNo=2323\r\n", "2323", 2323);
    row("other case, blanks, LF", "  [ tcp ] \n\t PORTNO  = 2323 \n", "2323", 2323);
    row("word", "[TCP]\r\nPortNo=port\r\n", "port", 0);
    row("number then word", "[TCP]\r\nPortNo=-12ab", "-12ab", -12);
    row("beyond int", "[TCP]\r\nPortNo=99999999999999999999", "99999999999999999999", INT_MAX);
    row("empty value: the text's fallback, the number 0", "[TCP]\r\nPortNo=  \r\n", "none", 0);
    row("in another section", "PortNo=1\r\n[SERIAL]\r\nPortNo=1\r\n[TCP\r\nPortNo=1", "none", 7);
    row("first of two sections", "[TCP]\r\nPortNo=5\r\n;x\r\n[TCP]\r\nPortNo=6\r\n", "5", 5);
    row("binary bytes", QByteArray("\0\xff\r\n[TCP]\r\n\xfe\0=\x80\r\nPortNo=5\r\n\0", 28), "5", 5);
    row("byte-order mark", "\xEF\xBB\xBF[TCP]\r\nPortNo=5\r\n", "5", 5);
    row("CR line ends", "[X]\rPortNo=1\r[TCP]\rPortNo=5\r", "5", 5);
    row("mixed line ends", "[X]\nPortNo=1\r[TCP]\r\n\r\rPortNo=5", "5", 5);
    row("300 characters", "[TCP]\r\nPortNo=" + QByteArray(300, '9'), QByteArray(255, '9'), INT_MAX);
}

void SettingsFileTest::read() {
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    QFETCH(int, number);
    apptest::WriteFile(SettingsFile, content);
    const ProfileFile file(SettingsFile);
    QCOMPARE(file.readString("TCP", "PortNo", QStringLiteral("none")), text);
    QCOMPARE(file.readInt("TCP", "PortNo", 7), number);
}

void SettingsFileTest::write_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");  // with TCP/PortNo written as "5"
    QTest::newRow("new file") << QByteArray() << QByteArray("[TCP]\r\nPortNo=5\r\n");
    QTest::newRow("in place, the rest kept, CR LF")
        << QByteArray("; mine\n[tcp]\n IP=1\n portNO = 23\nX\n")
        << QByteArray("; mine\r\n[tcp]\r\n IP=1\r\nportNO=5\r\nX\r\n");
    QTest::newRow("same value: line untouched")
        << QByteArray("[TCP]\r\n PortNo = 5 ") << QByteArray("[TCP]\r\n PortNo = 5 \r\n");
    QTest::newRow("appended to its section")
        << QByteArray("[TCP]\r\nA=1\r\n\r\n[X]\r\n")
        << QByteArray("[TCP]\r\nA=1\r\nPortNo=5\r\n\r\n[X]\r\n");
    QTest::newRow("section appended")
        << QByteArray("[X]\r\nB=2") << QByteArray("[X]\r\nB=2\r\n[TCP]\r\nPortNo=5\r\n");
    QTest::newRow("byte-order mark kept, no second section")
        << QByteArray("\xEF\xBB\xBF[TCP]\r\nPortNo=1\r\n")
        << QByteArray("\xEF\xBB\xBF[TCP]\r\nPortNo=5\r\n");
    QTest::newRow("CR line ends: in place, CR LF")
        << QByteArray("[A]\rB=1\r[TCP]\rPortNo=1\r\rC=\xff")
        << QByteArray("[A]\r\nB=1\r\n[TCP]\r\nPortNo=5\r\n\r\nC=\xff\r\n");
}

void SettingsFileTest::write() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    apptest::WriteFile(SettingsFile, before);
    ProfileFile file(SettingsFile);
    file.writeString("TCP", "PortNo", QStringLiteral("5"));
    QVERIFY(file.save());
    QCOMPARE(apptest::ReadFile(SettingsFile), after);
}

// A new file renamed over the old one: whoever holds the old file (a second hard link here)
// never sees a half-written one. Below a plain file, nothing can be written, not even by root.
void SettingsFileTest::saveReplacesTheFileAsAWhole() {
    apptest::WriteFile(SettingsFile, "[TCP]\r\nPortNo=1\r\n");
    const QString old = dir_.filePath(QStringLiteral("old"));
    QFile::remove(old);
    QCOMPARE(::link(qPrintable(SettingsFile), qPrintable(old)), 0);
    ProfileFile file(SettingsFile);
    file.writeString("TCP", "PortNo", QStringLiteral("2"));
    QVERIFY(file.save());
    QCOMPARE(apptest::ReadFile(old), QByteArray("[TCP]\r\nPortNo=1\r\n"));
    QVERIFY(!ProfileFile(old + QStringLiteral("/Varnix.txt")).save());
    QVERIFY(!ProfileFile(QStringLiteral("/dev/zero")).save());  // read in bounds, never saved
}

void SettingsFileTest::noFileGivesDefaultsAndTheSerialLink() {
    ZV_SetConnection(2, "before", "1");
    LoadSettings();
    QCOMPARE(LibraryLink(), QStringLiteral("1 COM1 "));
    QCOMPARE(QStringList({QString::number(ConnectionType), SerialPortName, TcpAddress, TcpPortNo}),
             QStringList({"1", "COM1", "", "23"}));
    QVERIFY(ShowConfigurationButton && ShowHelpButton && ShowAdvancedButton && ShowPowerButton);
    SaveSettings();
    QCOMPARE(apptest::ReadFile(SettingsFile),
             "[GENERAL]\r\nConnection=1\r\n[SERIAL]\r\nPort=COM1\r\n[TCP]\r\nIPAddress=\r\n"
             "[TOOLBAR]\r\nPower=1\r\nM1-D=1\r\nRGB=1\r\nBNC=1\r\nComponent=1\r\nS-Video=1\r\n"
             "Video=1\r\nBlank=1\r\nMute=1\r\n");
}

void SettingsFileTest::linkKindDecidesTheLibraryCall_data() {
    QTest::addColumn<QByteArray>("connection");
    QTest::addColumn<QByteArray>("portNo");
    QTest::addColumn<QString>("link");
    QTest::newRow("serial") << QByteArray("1") << QByteArray("2323") << "1 COM3 ";
    QTest::newRow("network") << QByteArray("2") << QByteArray("2323") << "2 10.1.2.3 2323";
    QTest::newRow("highest port") << QByteArray("2") << QByteArray("65535") << "2 10.1.2.3 65535";
    // An unusable port number is the default one, never a number cut to 16 bits.
    for (const char* unusable : {"112157", "65536", "0", "-23", "23x", " "}) {
        QTest::addRow("port '%s'", unusable)
            << QByteArray("2") << QByteArray(unusable) << "2 10.1.2.3 23";
    }
    // No call: the library keeps what it had.
    for (const char* none : {"0", "3", "tcp", "65537", ""})
        QTest::addRow("link '%s'", none) << QByteArray(none) << QByteArray("1") << "2 before 1";
}

void SettingsFileTest::linkKindDecidesTheLibraryCall() {
    QFETCH(QByteArray, connection);
    QFETCH(QByteArray, portNo);
    QFETCH(QString, link);
    ZV_SetConnection(2, "before", "1");
    apptest::WriteFile(SettingsFile, "[GENERAL]\r\nConnection=" + connection +
                                         "\r\n[SERIAL]\r\nPort=COM3\r\n[TCP]\r\n"
                                         "IPAddress=10.1.2.3\r\nPortNo=" +
                                         portNo + "\r\n");
    LoadSettings();
    QCOMPARE(LibraryLink(), link);
}

void SettingsFileTest::savesKeepHandSetKeys() {
    const QByteArray handSet =
        "; room 4\r\n[TCP]\r\nPortNo=2323\r\n[TOOLBAR]\r\nHelp=0\r\n"
        "Configuration=0\r\nAdvanced=0\r\nPower=\r\nOwn=7\r\n";
    apptest::WriteFile(SettingsFile, handSet);
    LoadSettings();
    QVERIFY(!ShowPowerButton && !ShowHelpButton);
    ConnectionType = 2;
    TcpAddress = QStringLiteral("10.0.0.2");
    SaveSettings();
    SaveSettings();
    const QByteArray saved = apptest::ReadFile(SettingsFile);
    QVERIFY(
        saved.startsWith("; room 4\r\n[TCP]\r\nPortNo=2323\r\nIPAddress=10.0.0.2\r\n"
                         "[TOOLBAR]\r\nHelp=0\r\nConfiguration=0\r\nAdvanced=0\r\nPower=0\r\n"
                         "Own=7\r\n"));
    QVERIFY(saved.contains("\r\n[GENERAL]\r\nConnection=2\r\n"));
}

QTEST_MAIN(SettingsFileTest)
#include "tst_settings_file.moc"
