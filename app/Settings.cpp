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

}  // namespace

QString DefaultSettingsFile() {
    QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(kFileName);
    if (QFileInfo::exists(beside) ||
        QFileInfo(QCoreApplication::applicationDirPath()).isWritable()) {
        return beside;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("varnex/") + kFileName);
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
    ConnectionType = LinkKind(file.readInt("GENERAL", "Connection", 1));
    ApplyConnection();
    for (const ToolbarKey& row : kToolbarKeys)
        *row.shown = file.readInt("TOOLBAR", row.key, 1) != 0;
}

void SaveSettings() {
    ProfileFile file(SettingsFile);
    file.writeString("GENERAL", "Connection", QString::number(ConnectionType));
    for (const TextKey& row : kTextKeys) {
        if (row.saved) file.writeString(row.section, row.key, *row.value);
    }
    for (const ToolbarKey& row : kToolbarKeys) {
        if (row.saved) file.writeString("TOOLBAR", row.key, *row.shown ? "1" : "0");
    }
    file.save();
}

}  // namespace MainModule
