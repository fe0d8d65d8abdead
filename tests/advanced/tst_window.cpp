// The window frame: what opening, page selection and closing read and leave behind, and how a
// projector that fails every read leaves each page.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "Harness.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"
#include "windows/Timers.h"

using namespace harness;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;

namespace {

// Every get a page's poll makes, in its order.
QStringList pollOf(int page) {
    static const QList<QList<std::uint16_t>> types = {
        {0x6000, 0x2000, 0x2007, 0x200B},
        {0x2003, 0x2004, 0x2008, 0x3300, 0x3001, 0x3005},
        {0x30A1, 0x30A0, 0x30B0, 0x30B1, 0x30B2, 0x30B3, 0x2005, 0x2012, 0x2006, 0x2201, 0x2202,
         0x2203},
        {0x2100, 0x2101, 0x2103, 0x2102, 0x2209},
        {0x2204, 0x2017, 0x2200, 0x220A, 0x2206, 0x2302, 0x2301, 0x2303, 0x2018, 0x220B},
        {0x3110, 0x3120, 0x2016},
        {0x3000, 0x3020, 0x3004, 0x3012, 0x30C0, 0x3016, 0x3015, 0x3017},
        {0x2001, 0x2002, 0x201C, 0x2600, 0x2601, 0x2602, 0x2608, 0x1090, 0x10A0, 0x3007, 0x3002,
         0x2019, 0x2570, 0x2410, 0x6020},
    };
    QStringList gets;
    for (std::uint16_t type : types.at(page)) {
        gets << get(type);
    }
    return gets;
}

// Where each slider stands while its setting cannot be read.
int fallbackOf(const QString& slider) {
    static const QHash<QString, int> fallbacks = {
        {"sldCustomGamma", 22}, {"sldSharpness", 3}, {"sldOverScan", 95}, {"sldVolume", 16}};
    return fallbacks.value(slider, 0);
}

FaultConfig faultOf(FaultKind kind) {
    FaultConfig fault;
    fault.kind = kind;
    return fault;
}

QTabWidget* tabsOf(DetailsForm& form) { return form.findChild<QTabWidget*>("SSTab1"); }

bool isSelector(const QComboBox* box) {
    return box->objectName().startsWith("cmbReset") || box->objectName() == "cmbSlotkeep";
}

// How light a list is drawn just inside its frame, left of where its text starts.
int backgroundOf(QComboBox* box) {
    return box->grab().toImage().pixelColor(3, box->height() / 2).lightness();
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        MainModule::StatusPollBusy = false;
        Timers::instance().StatusCheckTimer->stop();
    }

    void frameIsAsDesigned() {
        Projector projector;
        auto form = openWindow();
        QCOMPARE(form->windowTitle(), QString("Advanced Control"));
        QCOMPARE(form->size(), QSize(530, 368));
        QTabWidget* tabs = tabsOf(*form);
        QVERIFY(tabs);
        QStringList captions;
        for (int i = 0; i < tabs->count(); ++i) {
            captions << tabs->tabText(i);
        }
        QCOMPARE(captions, QStringList({"SETUP", "MAIN", "PICTURE-1", "PICTURE-2", "INPUT", "AUTO",
                                        "SCREEN", "OPTION"}));
        auto* close = form->findChild<QPushButton*>("cmdClose");
        QVERIFY(close);
        QCOMPARE(close->text(), QString("Close"));
        QCOMPARE(close->geometry(), QRect(456, 340, 65, 25));
        // Nothing is shown before the projector has reported it.
        QCOMPARE(form->findChild<QComboBox*>("cmbAspect")->currentIndex(), -1);
        const QList<QPair<const char*, const char*>> selectors = {
            {"cmbResetSetup", "Keystone V"},     {"cmbResetMain", "Brightness"},
            {"cmbResetPicture1", "Color Bal R"}, {"cmbSlotkeep", "Load 1"},
            {"cmbResetPicture2", "V Position"},  {"cmbResetScreen", "Menu Position V"},
            {"cmbResetOption", "Lamp Time"}};
        for (const auto& [name, first] : selectors) {
            auto* box = form->findChild<QComboBox*>(name);
            QVERIFY2(box, name);
            QCOMPARE(box->currentText(), QString(first));
        }
    }

    void opensOnSetupAndReadsOnlyIt() {
        Projector projector;
        auto form = openWindow();
        QCOMPARE(tabsOf(*form)->currentIndex(), int(kSetup));
        QTest::qWait(150);  // nothing else may be read meanwhile
        QCOMPARE(projector.sent(), pollOf(kSetup));
    }

    void pageIsReadEachTimeItIsSelected_data() {
        QTest::addColumn<int>("page");
        for (int page = kSetup; page <= kOption; ++page) {
            QTest::addRow("%d", page) << page;
        }
    }
    void pageIsReadEachTimeItIsSelected() {
        QFETCH(int, page);
        Projector projector;
        auto form = openWindow();
        const int other = page == kAuto ? kSetup : kAuto;
        for (int pass = 0; pass < 2; ++pass) {
            tabsOf(*form)->setCurrentIndex(other);
            QVERIFY(pollIsOver(*form, other));
            projector.clear();
            tabsOf(*form)->setCurrentIndex(page);
            QVERIFY(pollIsOver(*form, page));
            QCOMPARE(projector.sent(), pollOf(page));
        }
    }

    void badProjectorLeavesControlsUnavailable_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("fault");
        const QList<QPair<const char*, FaultKind>> faults = {{"refuses", FaultKind::Nak},
                                                             {"garbage", FaultKind::Garbage},
                                                             {"hangs up", FaultKind::Close}};
        for (int page = kSetup; page <= kOption; ++page) {
            for (const auto& [name, kind] : faults) {
                QTest::addRow("%d %s", page, name) << page << int(kind);
            }
        }
    }
    void badProjectorLeavesControlsUnavailable() {
        QFETCH(int, page);
        QFETCH(int, fault);
        Projector projector;
        auto form = openWindow();
        projector->setFault(faultOf(FaultKind(fault)));
        QVERIFY(showPage(*form, page));
        QWidget* sheet = tabsOf(*form)->widget(page);
        QHash<QComboBox*, int> greyed;  // how light each list is drawn while unavailable

        for (QComboBox* box : sheet->findChildren<QComboBox*>()) {
            if (isSelector(box)) {
                QVERIFY(box->isEnabled());
                continue;
            }
            QVERIFY2(box->currentIndex() == -1, qPrintable(box->objectName()));
            QVERIFY2(!box->isEnabled(), qPrintable(box->objectName()));
            greyed[box] = backgroundOf(box);
        }
        for (QSlider* slider : sheet->findChildren<QSlider*>()) {
            QCOMPARE(slider->value(), fallbackOf(slider->objectName()));
            QVERIFY(!slider->isEnabled());
        }
        for (QLabel* label : sheet->findChildren<QLabel*>(QRegularExpression("^lbl"))) {
            QVERIFY2(label->text().isEmpty(), qPrintable(label->objectName()));
        }
        for (QCheckBox* box : sheet->findChildren<QCheckBox*>()) {
            QCOMPARE(box->checkState(), Qt::PartiallyChecked);
            QVERIFY(!box->isEnabled());
        }
        for (QPushButton* step :
             sheet->findChildren<QPushButton*>(QRegularExpression("^cmd(Dec|Inc)"))) {
            QVERIFY2(!step->isEnabled(), qPrintable(step->objectName()));
        }

        // The next good poll makes everything available again.
        projector->clearFault();
        QVERIFY(showPage(*form, page));
        for (QComboBox* box : sheet->findChildren<QComboBox*>()) {
            QVERIFY2(box->isEnabled(), qPrintable(box->objectName()));
            if (!isSelector(box)) {
                QVERIFY2(box->currentIndex() >= 0, qPrintable(box->objectName()));
                // The unavailable look is what the style in use draws, not a palette entry.
                QVERIFY2(backgroundOf(box) > greyed[box], qPrintable(box->objectName()));
            }
        }
        for (QWidget* widget :
             sheet->findChildren<QWidget*>(QRegularExpression("^(sld|chk|cmd)"))) {
            QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
        }
    }

    void projectorFallingSilentMidPoll() {
        Projector projector;
        auto form = openWindow();
        QTimer::singleShot(25, [&] { projector->setFault(faultOf(FaultKind::Close)); });
        QVERIFY(showPage(*form, kOption));
        // The last reads come after the projector hung up.
        QCOMPARE(form->findChild<QLabel*>("lblErrorStatus")->text(), QString());
        QCOMPARE(form->findChild<QComboBox*>("cmbLensLock")->currentIndex(), -1);
        QVERIFY(!MainModule::OptionUpdating);
    }

    void closingDuringPollEndsIt_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Close") << "Close";
        QTest::newRow("close box") << "close box";
        QTest::newRow("destroyed") << "destroyed";
    }
    void closingDuringPollEndsIt() {
        QFETCH(QString, how);
        Projector projector;
        auto form = openWindow();
        projector.clear();
        tabsOf(*form)->setCurrentIndex(kOption);
        QTimer::singleShot(30, [&] {
            if (how == "Close") {
                form->findChild<QPushButton*>("cmdClose")->click();
            } else if (how == "close box") {
                form->close();
            } else {
                form.reset();
            }
        });
        QVERIFY(QTest::qWaitFor([&] { return !form || form->isHidden(); }, 10000));
        QTest::qWait(300);  // long enough for the rest of the poll, had it gone on
        QVERIFY(!MainModule::OptionUpdating);
        QVERIFY(projector.sent().size() < pollOf(kOption).size());
        QVERIFY(Timers::instance().StatusCheckTimer->isActive());
    }

    void closingRestartsTheMainPoll_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Close") << false;
        QTest::newRow("close box") << true;
    }
    void closingRestartsTheMainPoll() {
        QFETCH(bool, closeBox);
        Projector projector;
        QTimer* mainPoll = Timers::instance().StatusCheckTimer;
        auto form = openWindow();
        MainModule::StatusPollBusy = true;
        QVERIFY(!mainPoll->isActive());
        if (closeBox) {
            form->close();
        } else {
            form->findChild<QPushButton*>("cmdClose")->click();
        }
        QVERIFY(form->isHidden());
        QVERIFY(!MainModule::StatusPollBusy);
        QVERIFY(mainPoll->isActive());
        QCOMPARE(mainPoll->interval(), 10);
        mainPoll->stop();
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
