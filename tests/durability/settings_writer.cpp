// Saves the settings file over and over, switching between two contents, until it is killed.
// Each save changes every value, so that a torn or truncated file cannot pass for either one.
#include <QCoreApplication>

#include "ProfileFile.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    for (unsigned round = 0;; ++round) {
        ProfileFile profile(path);
        const QString content = (round % 2) ? QStringLiteral("B") : QStringLiteral("A");
        for (int key = 0; key < 400; ++key) {
            profile.writeString("TOOLBAR", QByteArray("Key") + QByteArray::number(key),
                                content.repeated(40));
        }
        profile.save();
    }
}
