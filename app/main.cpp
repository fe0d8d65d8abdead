// Varnex: operates one projector from a toolbar and the notification area.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QStandardPaths>
#include <cstring>

#include "MainModule.h"

namespace {

const QString kVersion = QStringLiteral("1.0.0.3");

void Describe(QCoreApplication& app, QCommandLineParser& parser, QCommandLineOption& settings) {
    app.setApplicationName(QStringLiteral("varnex"));
    app.setApplicationVersion(kVersion);
    parser.setApplicationDescription(
        QStringLiteral("Operates a projector over a serial cable or the network."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(settings);
}

// Help and version are text only: answering them needs no display.
bool AsksForText(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) return true;
        }
    }
    return false;
}

QString LockFilePath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("varnex.lock"));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCommandLineOption settings(QStringLiteral("settings"),
                                QStringLiteral("Read and write the settings in <file>."),
                                QStringLiteral("file"));
    if (AsksForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        Describe(app, parser, settings);
        parser.process(app);  // prints and ends
        return 0;
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    Describe(app, parser, settings);
    parser.process(app);

    // A second start leaves the running program alone and ends without a word. A lock left by
    // a program that died is taken over.
    QLockFile lock(LockFilePath());
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) return 0;

    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(QIcon(QStringLiteral(":/varnex.svg")));
    MainModule::SettingsFile =
        parser.isSet(settings) ? parser.value(settings) : MainModule::DefaultSettingsFile();
    MainModule::StartUp();
    return app.exec();
}
