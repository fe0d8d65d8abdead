// A program killed at any moment of saving its settings leaves the old file or the new one,
// never a truncated or mixed one.
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class SettingsDurability : public QObject {
    Q_OBJECT

private slots:
    void killedWhileSavingLeavesAWholeFile() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(QStringLiteral("Varnix.txt"));
        const QString writer = QCoreApplication::applicationDirPath() + "/settings_writer";
        QSet<QChar> seen;
        for (int attempt = 0; attempt < 40; ++attempt) {
            QProcess process;
            process.start(writer, {path});
            QVERIFY(process.waitForStarted());
            QTest::qWait(20 + QRandomGenerator::global()->bounded(60));
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(10000));

            QFile file(path);
            if (!file.exists()) continue;  // killed before the very first save completed
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(!bytes.isEmpty(), "an empty settings file");
            const QList<QByteArray> lines = bytes.split('\n');
            QCOMPARE(lines.size(), 402);  // the section, 400 keys, and the end after the last CR LF
            const char content = lines.at(1).at(lines.at(1).indexOf('=') + 1);
            for (int key = 0; key < 400; ++key) {
                const QByteArray expected =
                    "Key" + QByteArray::number(key) + '=' + QByteArray(40, content) + '\r';
                QCOMPARE(lines.at(key + 1), expected);
            }
            seen.insert(QChar(content));
        }
        QVERIFY2(!seen.isEmpty(), "no save ever completed");
    }
};

QTEST_GUILESS_MAIN(SettingsDurability)
#include "tst_settings_durability.moc"
