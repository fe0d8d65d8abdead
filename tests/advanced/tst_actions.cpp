// Resets, picture memories, automatic adjustment, the OPTION page's check boxes and displays.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "Harness.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"

using namespace harness;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;

namespace {

struct Reset {
    Page page;
    const char* selector;
    const char* execute;
    int index;
    const char* item;
    std::uint16_t resetType;
    const char* message;
    const char* display;  // "" when nothing is read back
    std::uint16_t type;
    std::uint16_t before;  // stored before the reset; the reset restores the projector's own
    const char* after;     // what the display shows after the reset
};

const QList<Reset> kResets = {
    {kSetup, "cmbResetSetup", "cmdResetSetupExec", 0, "Keystone V", 0x700C,
     "Keystone V Reset Error!!", "sldKeystoneV", 0x2007, 140, "0"},
    {kSetup, "cmbResetSetup", "cmdResetSetupExec", 1, "Keystone H", 0x7020,
     "Keystone H Reset Error!!", "sldKeystoneH", 0x200B, 100, "0"},
    {kMain, "cmbResetMain", "cmdResetMainExec", 0, "Brightness", 0x7000, "Brightness Reset Error!!",
     "sldBrightness", 0x2003, 150, "0"},
    {kMain, "cmbResetMain", "cmdResetMainExec", 1, "Contrast", 0x7001, "Contrast Reset Error!!",
     "sldContrast", 0x2004, 100, "0"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 0, "Color Bal R", 0x7005,
     "Color Bal R Reset Error!!", "sldColorBalR", 0x2005, 150, "0"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 1, "Color Bal G", 0x7029,
     "Color Bal G Reset Error!!", "sldColorBalG", 0x2012, 150, "0"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 2, "Color Bal B", 0x7006,
     "Color Bal B Reset Error!!", "sldColorBalB", 0x2006, 150, "0"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 3, "Sharpness", 0x7009,
     "Sharpness Reset Error!!", "sldSharpness", 0x2201, 130, "3"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 4, "Color", 0x700A,
     "Color Reset Error!!", "sldColor", 0x2202, 70, "0"},
    {kPicture1, "cmbResetPicture1", "cmdResetPicture1Exec", 5, "Tint", 0x700B, "Tint Reset Error!!",
     "sldTint", 0x2203, 140, "0"},
    {kPicture2, "cmbResetPicture2", "cmdResetPicture2Exec", 0, "V Position", 0x7002,
     "V Position Reset Error!!", "", 0x2100, 100, ""},
    {kPicture2, "cmbResetPicture2", "cmdResetPicture2Exec", 1, "H Position", 0x7003,
     "H Position Reset Error!!", "", 0x2101, 100, ""},
    {kPicture2, "cmbResetPicture2", "cmdResetPicture2Exec", 2, "H Size", 0x7004,
     "H Size Reset Error!!", "lblHSize", 0x2102, 1100, "1024"},
    {kPicture2, "cmbResetPicture2", "cmdResetPicture2Exec", 3, "OverScan", 0x7027,
     "Over Scan Reset Error!!", "sldOverScan", 0x2209, 100, "95"},
    {kScreen, "cmbResetScreen", "cmdResetScreenExec", 0, "Menu Position V", 0x7044,
     "Menu Position V Reset Error!!", "", 0x3016, 100, ""},
    {kScreen, "cmbResetScreen", "cmdResetScreenExec", 1, "Menu Position H", 0x7043,
     "Menu Position H Reset Error!!", "", 0x3015, 100, ""},
    {kOption, "cmbResetOption", "cmdResetOptionExec", 0, "Lamp Time", 0x7030,
     "Lamp Time Reset Error!!", "lblLampTime", 0x1090, 1234, "0"},
    {kOption, "cmbResetOption", "cmdResetOptionExec", 1, "Filter Time", 0x7040,
     "Filter Time Reset Error!!", "lblFilterTime", 0x10A0, 567, "0"},
};

void addResets(bool everyItem) {
    QTest::addColumn<int>("row");
    for (int i = 0; i < kResets.size(); ++i) {
        const Reset& r = kResets[i];
        if (everyItem || r.index == 0) {
            QTest::newRow(r.item) << i;
        }
    }
}

QString shownBy(QWidget* display) {
    if (auto* slider = qobject_cast<QSlider*>(display)) {
        return QString::number(slider->value());
    }
    return static_cast<QLabel*>(display)->text();
}

FaultConfig refuseOnce(std::uint16_t type) {
    FaultConfig fault;
    fault.kind = FaultKind::Nak;
    fault.onlyType = type;
    fault.frameCount = 1;
    return fault;
}

}  // namespace

class ActionsTest : public PageSuite {
    Q_OBJECT

private slots:
    void cleanupTestCase() { closeWindow(); }

    void resetAsksThenSendsAndReadsBack_data() { addResets(true); }
    void resetAsksThenSendsAndReadsBack() {
        QFETCH(int, row);
        const Reset& r = kResets[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(r.type, r.before));
        QVERIFY(showPage(form, r.page));
        auto* selector = form.findChild<QComboBox*>(r.selector);
        QVERIFY(selector);
        selector->setCurrentIndex(r.index);
        projector.clear();
        BoxAnswerer answerer({QMessageBox::Ok});
        form.findChild<QPushButton*>(r.execute)->click();

        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, QString(r.item) + " Reset OK?");
        QCOMPARE(answerer.seen[0].caption, QString("Confirmation"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Question);
        QStringList expected{exec(r.resetType)};
        if (*r.display != '\0') {
            expected << get(r.type);
            QCOMPARE(shownBy(form.findChild<QWidget*>(r.display)), QString(r.after));
        }
        QCOMPARE(projector.sent(), expected);
        QVERIFY(!pageFlag(r.page));
    }

    void cancelledOrRefusedReset_data() { addResets(false); }
    void cancelledOrRefusedReset() {
        QFETCH(int, row);
        const Reset& r = kResets[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, r.page));
        form.findChild<QComboBox*>(r.selector)->setCurrentIndex(r.index);
        auto* execute = form.findChild<QPushButton*>(r.execute);
        projector.clear();
        BoxAnswerer answerer({QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Ok});
        execute->click();
        QCOMPARE(projector.sent(), QStringList());
        projector->refuseSet(r.resetType);
        execute->click();
        // Nothing is read back after a refusal.
        QCOMPARE(projector.sent(), QStringList{exec(r.resetType)});
        QCOMPARE(answerer.seen.size(), 3);
        QCOMPARE(answerer.seen[2].text, QString(r.message));
        QCOMPARE(answerer.seen[2].caption, QString("Lumeris"));
        QCOMPARE(answerer.seen[2].icon, QMessageBox::Critical);
    }

    void failedReadBackAfterResetMakesDisplayUnavailable() {
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, kPicture2));
        form.findChild<QComboBox*>("cmbResetPicture2")->setCurrentIndex(3);
        projector->failGet(0x2209);
        BoxAnswerer answerer;
        form.findChild<QPushButton*>("cmdResetPicture2Exec")->click();
        auto* overScan = form.findChild<QSlider*>("sldOverScan");
        QCOMPARE(overScan->value(), 95);
        QVERIFY(!overScan->isEnabled());
        QVERIFY(!form.findChild<QPushButton*>("cmdIncOverScan")->isEnabled());
    }

    void slotkeepLoadsAndSaves_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("message");
        for (int i = 0; i < 8; ++i) {
            const bool save = i >= 4;
            const QString item = QString(save ? "Save %1" : "Load %1").arg(i % 4 + 1);
            QTest::newRow(qPrintable(item))
                << i << (save ? 0x2015 : 0x2014) << i % 4 << "Slotkeep " + item + " Error!!";
        }
    }
    void slotkeepLoadsAndSaves() {
        QFETCH(int, index);
        QFETCH(int, type);
        QFETCH(int, value);
        QFETCH(QString, message);
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, kPicture1));
        form.findChild<QComboBox*>("cmbSlotkeep")->setCurrentIndex(index);
        auto* execute = form.findChild<QPushButton*>("cmdSlotkeepExec");
        projector.clear();
        BoxAnswerer answerer;
        execute->click();  // no question first, and the page is not read again
        QCOMPARE(answerer.seen.size(), 0);
        projector->refuseSet(type);
        execute->click();
        QCOMPARE(projector.sent(), QStringList({set(type, value), set(type, value)}));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, message);
    }

    void autoAdjustRunsAtOnce() {
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, kAuto));
        auto* execute = form.findChild<QPushButton*>("cmdAutoAdjustExec");
        projector.clear();
        BoxAnswerer answerer;
        execute->click();
        QCOMPARE(answerer.seen.size(), 0);
        projector->refuseSet(0x200A);
        execute->click();
        QCOMPARE(projector.sent(), QStringList({exec(0x200A), exec(0x200A)}));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, QString("Auto Adjust Error!!"));
    }

    void optionDisplays_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("reported");  // -1: the read fails
        QTest::addColumn<QString>("shown");

        QTest::newRow("lamp hours") << "lblLampTime" << 0x1090 << 1234 << "1234";
        QTest::newRow("lamp largest") << "lblLampTime" << 0x1090 << 65535 << "65535";
        QTest::newRow("lamp failed") << "lblLampTime" << 0x1090 << -1 << "";
        QTest::newRow("filter hours") << "lblFilterTime" << 0x10A0 << 567 << "567";
        QTest::newRow("lamp time over") << "lblErrorStatus" << 0x6020 << 6 << "Lamp Time Over";
        QTest::newRow("filter missing") << "lblErrorStatus" << 0x6020 << 9 << "Filter Missing";
        QTest::newRow("unknown status") << "lblErrorStatus" << 0x6020 << 12 << "Fan Error";
        QTest::newRow("status failed") << "lblErrorStatus" << 0x6020 << -1 << "";
    }
    void optionDisplays() {
        QFETCH(QString, display);
        QFETCH(int, type);
        QFETCH(int, reported);
        QFETCH(QString, shown);
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(0x6020, 2));  // a known status shown first: "Fan Error"
        QVERIFY(showPage(form, kOption));
        if (reported < 0) {
            projector->failGet(type);
        } else {
            QVERIFY(projector->setValue(type, reported));
        }
        QVERIFY(showPage(form, kOption));
        QCOMPARE(form.findChild<QLabel*>(display)->text(), shown);
        QCOMPARE(form.findChild<QLabel*>("Label44")->text(), QString("h"));
        QCOMPARE(form.findChild<QLabel*>("Label45")->text(), QString("h"));
    }

    void checkBoxClick_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("initial");
        QTest::addColumn<QString>("projector");  // "", "refuses once", "refuses", "page busy"
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QStringList>("messages");

        const QString front = "IR Remote Front setting Error!!";
        const QString top = "IR Remote Top setting Error!!";
        QTest::newRow("check") << "chkIRFront" << 0x2600 << 0 << "" << QStringList{set(0x2600, 1)}
                               << true << QStringList();
        QTest::newRow("uncheck") << "chkIRRear" << 0x2601 << 1 << "" << QStringList{set(0x2601, 0)}
                                 << false << QStringList();
        // The box goes back and its old state is sent again.
        QTest::newRow("refused, sent again")
            << "chkIRTop" << 0x2602 << 0 << "refuses once"
            << QStringList{set(0x2602, 1), set(0x2602, 0)} << false << QStringList{top};
        QTest::newRow("refused twice")
            << "chkIRFront" << 0x2600 << 1 << "refuses"
            << QStringList{set(0x2600, 0), set(0x2600, 1)} << true << QStringList{front, front};
        QTest::newRow("during the poll") << "chkIRFront" << 0x2600 << 0 << "page busy"
                                         << QStringList() << false << QStringList();
    }
    void checkBoxClick() {
        QFETCH(QString, box);
        QFETCH(int, type);
        QFETCH(int, initial);
        QFETCH(QString, projector);
        QFETCH(QStringList, sent);
        QFETCH(bool, checked);
        QFETCH(QStringList, messages);
        Projector emulated;
        DetailsForm& form = window();
        QVERIFY(emulated->setValue(type, initial));
        QVERIFY(showPage(form, kOption));
        auto* check = form.findChild<QCheckBox*>(box);
        QVERIFY(check && check->isEnabled());
        QCOMPARE(check->isChecked(), initial == 1);
        if (projector == "refuses once") {
            emulated->setFault(refuseOnce(type));
        } else if (projector == "refuses") {
            emulated->refuseSet(type);
        }
        emulated.clear();
        BoxAnswerer answerer;
        MainModule::OptionUpdating = projector == "page busy";
        check->click();
        MainModule::OptionUpdating = false;
        QCOMPARE(emulated.sent(), sent);
        QStringList seen;
        for (const BoxSeen& b : answerer.seen) {
            seen << b.text;
        }
        QCOMPARE(seen, messages);
        QCOMPARE(check->checkState(), checked ? Qt::Checked : Qt::Unchecked);
    }

    void checkBoxKeepsStateForUnknownValue() {
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(0x2601, 1));
        QVERIFY(showPage(form, kOption));
        QVERIFY(projector->setValue(0x2601, 5));
        QVERIFY(showPage(form, kOption));
        auto* rear = form.findChild<QCheckBox*>("chkIRRear");
        QCOMPARE(rear->checkState(), Qt::Checked);
        QVERIFY(rear->isEnabled());
    }
};

QTEST_MAIN(ActionsTest)
#include "tst_actions.moc"
