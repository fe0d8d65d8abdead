// The settings file's keys and how they map onto the shared state.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>

#include "Define.h"
#include "MainModule.h"
#include "ProfileFile.h"

namespace MainModule {
namespace {

struct TextKey {
    const char* section;
    const char* key;
    QString* value;
    const char* fallback;
    bool saved;
};

// In reading order.
const TextKey kTextKeys[] = {
    {"SERIAL", "Port", &SerialPortName, "COM1", true},
    {"TCP", "IPAddress", &TcpAddress, "", true},
    {"TCP", "PortNo", &TcpPortNo, "23", false},
};

struct ToolbarKey {
    const char* key;
    bool* shown;
    bool saved;  // the keys that are not saved can only be set by editing the file
};

// In reading and writing order; all default to shown.
const ToolbarKey kToolbarKeys[] = {
    {"Configuration", &ShowConfigurationButton, false},
    {"Power", &ShowPowerButton, true},
    {"M1-D", &ShowM1DButton, true},
    {"RGB", &ShowRGBButton, true},
    {"BNC", &ShowBNCButton, true},
    {"Component", &ShowComponentButton, true},
    {"S-Video", &ShowSVideoButton, true},
    {"Video", &ShowVideoButton, true},
    {"Blank", &ShowBlankButton, true},
    {"Mute", &ShowMuteButton, true},
    {"Advanced", &ShowAdvancedButton, false},
    {"Help", &ShowHelpButton, false},
};

constexpr const char* kFileName = "Varnix.txt";

// A number that does not fit the 16-bit link kind chooses no link rather than whatever its
// low bits happen to say.
int16_t LinkKind(int number) {
    if (number < std::numeric_limits<int16_t>::min() ||
        number > std::numeric_limits<int16_t>::max()) {
        return 0;
    }
    return int16_t(number);
}

// $XDG_CONFIG_HOME, or ~/.config when it names no absolute folder: the same rule as the
// command-line tool's, so that both find the same file.
QString UserConfigFolder() {
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#else
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(xdg)) return xdg;
    return QDir(QDir::homePath()).filePath(QStringLiteral(".config"));
#endif
}

}  // namespace

QString DefaultSettingsFile() {
    // A program unpacked into a folder of its own keeps its file there; an installed one never
    // writes into the system's program folder.
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(kFileName);
    if (QFileInfo::exists(beside)) return beside;
    return QDir(UserConfigFolder()).filePath(QStringLiteral("varnex/") + kFileName);
}

void ApplyConnection() {
    if (ConnectionType == 1) {
        Define::ZV_SetConnection(1, SerialPortName.toLocal8Bit().constData(), "");
    } else if (ConnectionType == 2) {
        Define::ZV_SetConnection(2, TcpAddress.toLocal8Bit().constData(),
                                 TcpPortNo.toLocal8Bit().constData());
    }
}

void LoadSettings() {
    const ProfileFile file(SettingsFile);
    for (const TextKey& row : kTextKeys) {
        *row.value = file.readString(row.section, row.key, QString::fromLatin1(row.fallback));
    }
    // The library would take a number beyond 65535 modulo 65536 and reach another port.
    const auto port = settings_text::PortNumber(TcpPortNo.toStdString());
    TcpPortNo = QString::number(port.value_or(23));
    ConnectionType = LinkKind(file.readInt("GENERAL", "Connection", 1));
    ApplyConnection();
    for (const ToolbarKey& row : kToolbarKeys)
        *row.shown = file.readInt("TOOLBAR", row.key, 1) != 0;
}

bool SaveSettings() {
    ProfileFile file(SettingsFile);
    file.writeString("GENERAL", "Connection", QString::number(ConnectionType));
    for (const TextKey& row : kTextKeys) {
        if (row.saved) file.writeString(row.section, row.key, *row.value);
    }
    for (const ToolbarKey& row : kToolbarKeys) {
        if (row.saved) file.writeString("TOOLBAR", row.key, *row.shown ? "1" : "0");
    }
    return file.save();
}

}  // namespace MainModule
