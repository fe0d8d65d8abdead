// Settings files of any content: reading never fails, and what is written reads back exactly,
// with the file's other lines kept.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdlib>

#include "ProfileFile.h"

namespace {

const QString& Path() {
    static const QString path =
        QDir::tempPath() +
        QStringLiteral("/profile-fuzz-%1.txt").arg(QCoreApplication::applicationPid());
    return path;
}

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        QFile file(Path());
        if (!file.open(QIODevice::WriteOnly)) return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    ProfileFile profile(Path());
    for (const char* section : {"GENERAL", "serial", "Tcp", "TOOLBAR", ""}) {
        for (const char* key : {"Connection", "port", "IPADDRESS", "PortNo", "M1-D", ""}) {
            const QString text = profile.readString(section, key, QStringLiteral("fallback"));
            Require(text.size() <= ProfileFile::kMaxTextLength);
            profile.readInt(section, key, 7);
        }
    }
    profile.writeString("SERIAL", "Port", QStringLiteral("COM7"));
    profile.writeString("New Section", "Key", QStringLiteral("value with = and ; inside"));
    if (!profile.save()) return 0;

    const ProfileFile again(Path());
    Require(again.readString("serial", "PORT", QString()) == QStringLiteral("COM7"));
    Require(again.readString("new section", "key", QString()) ==
            QStringLiteral("value with = and ; inside"));
    QFile::remove(Path());
    return 0;
}
