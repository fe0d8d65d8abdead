// Sliders, value labels and arrow buttons: what a reported value shows, what a movement sends,
// and when the "-" and "+" buttons send nothing.
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWindow>

#include "Harness.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"

using namespace harness;

namespace {

constexpr int kFails = -1;  // the read fails

struct Shown {
    const char* name;
    Page page;
    const char* slider;
    std::uint16_t type;
    int reported;
    int position;
    const char* tooltip;
};

const QList<Shown> kShown = {
    {"keystone min", kSetup, "sldKeystoneH", 0x200B, 64, -64, ""},
    {"keystone above range", kSetup, "sldKeystoneV", 0x2007, 200, 64, "200"},
    {"keystone failed", kSetup, "sldKeystoneV", 0x2007, kFails, 0, ""},
    {"brightness max", kMain, "sldBrightness", 0x2003, 160, 32, ""},
    {"custom gamma", kPicture1, "sldCustomGamma", 0x30A0, 25, 25, "2.5"},
    {"custom gamma above", kPicture1, "sldCustomGamma", 0x30A0, 40, 32, "4"},
    {"custom gamma failed", kPicture1, "sldCustomGamma", 0x30A0, kFails, 22, "2.2"},
    {"sharpness", kPicture1, "sldSharpness", 0x2201, 128, 3, ""},
    {"tint below range", kPicture1, "sldTint", 0x2203, 100, -14, "100"},
    {"over-scan failed", kPicture2, "sldOverScan", 0x2209, kFails, 95, ""},
    {"volume above range", kOption, "sldVolume", 0x2001, 40, 32, "40"},
    {"volume failed", kOption, "sldVolume", 0x2001, kFails, 16, ""},
};

struct Move {
    Page page;
    const char* slider;
    std::uint16_t type;
    int position;
    std::uint16_t value;
    const char* message;
};

const QList<Move> kMoves = {
    {kSetup, "sldKeystoneV", 0x2007, -64, 64, "Keystone V setting Error!!"},
    {kSetup, "sldKeystoneH", 0x200B, 10, 138, "Keystone H setting Error!!"},
    {kMain, "sldBrightness", 0x2003, 32, 160, "Brightness setting Error!!"},
    {kMain, "sldContrast", 0x2004, -5, 123, "Contrast setting Error!!"},
    {kPicture1, "sldCustomGamma", 0x30A0, 30, 30, "Custom Gamma setting Error!!"},
    {kPicture1, "sldColorBalR", 0x2005, 1, 129, "Color Bal R setting Error!!"},
    {kPicture1, "sldColorBalG", 0x2012, -1, 127, "Color Bal G setting Error!!"},
    {kPicture1, "sldColorBalB", 0x2006, 32, 160, "Color Bal B setting Error!!"},
    {kPicture1, "sldSharpness", 0x2201, 5, 130, "Sharpness setting Error!!"},
    {kPicture1, "sldColor", 0x2202, 63, 191, "Color setting Error!!"},
    {kPicture1, "sldTint", 0x2203, -14, 114, "Tint setting Error!!"},
    {kPicture2, "sldHPhase", 0x2103, 31, 31, "H Phase setting Error!!"},
    {kPicture2, "sldOverScan", 0x2209, 100, 100, "Over Scan setting Error!!"},
    {kOption, "sldVolume", 0x2001, 0, 0, "Volume setting Error!!"},
    {kOption, "sldMagnify", 0x3007, 48, 48, "Magnify setting Error!!"},
};

enum Projecting { kAnswers, kRefuses, kFailsReads };

struct Step {
    const char* name;
    Page page;
    const char* display;
    std::uint16_t type;
    int reported;
    const char* button;
    Projecting projector;
    int sent;  // 0 nothing, 1 the step only, 2 the step and its read-back
    const char* shown;
    const char* message;
};

const QList<Step> kSteps = {
    // At a slider's ends.
    {"keystone - at min", kSetup, "sldKeystoneV", 0x2007, 64, "cmdDecKeystoneV", kAnswers, 0, "-64",
     ""},
    {"keystone + beyond max", kSetup, "sldKeystoneV", 0x2007, 250, "cmdIncKeystoneV", kAnswers, 0,
     "64", ""},
    {"brightness + at max", kMain, "sldBrightness", 0x2003, 160, "cmdIncBrightness", kAnswers, 0,
     "32", ""},
    {"sharpness - at min", kPicture1, "sldSharpness", 0x2201, 126, "cmdDecSharpness", kAnswers, 0,
     "1", ""},
    // Inside the range: the step, then the value read back.
    {"keystone +", kSetup, "sldKeystoneV", 0x2007, 128, "cmdIncKeystoneV", kAnswers, 2, "1", ""},
    {"over-scan -", kPicture2, "sldOverScan", 0x2209, 95, "cmdDecOverScan", kAnswers, 2, "94", ""},
    // Refused steps and failed read-backs change nothing on screen.
    {"volume refused", kOption, "sldVolume", 0x2001, 16, "cmdDecVolume", kRefuses, 1, "16",
     "Volume setting Error!!"},
    {"brightness read-back fails", kMain, "sldBrightness", 0x2003, 128, "cmdIncBrightness",
     kFailsReads, 2, "0", ""},
    // Value labels stop only at exactly their limits.
    {"H size - at 0", kPicture2, "lblHSize", 0x2102, 0, "cmdDecHSize", kAnswers, 0, "0", ""},
    {"H size -", kPicture2, "lblHSize", 0x2102, 1024, "cmdDecHSize", kAnswers, 2, "1023", ""},
    {"H size + has no limit", kPicture2, "lblHSize", 0x2102, 1200, "cmdIncHSize", kAnswers, 1,
     "1200", "H Size setting Error!!"},
    {"H size read-back fails", kPicture2, "lblHSize", 0x2102, 1024, "cmdIncHSize", kFailsReads, 2,
     "1024", ""},
    {"power-off - at 0", kAuto, "lblAutoPowerOff", 0x3110, 0, "cmdDecAutoPowerOff", kAnswers, 0,
     "0", ""},
    {"power-off + at 0", kAuto, "lblAutoPowerOff", 0x3110, 0, "cmdIncAutoPowerOff", kAnswers, 2,
     "1", ""},
    {"power-off + at 99", kAuto, "lblAutoPowerOff", 0x3110, 99, "cmdIncAutoPowerOff", kAnswers, 0,
     "99", ""},
    {"power-off - at 99", kAuto, "lblAutoPowerOff", 0x3110, 99, "cmdDecAutoPowerOff", kAnswers, 2,
     "98", ""},
    {"power-off + above 99", kAuto, "lblAutoPowerOff", 0x3110, 120, "cmdIncAutoPowerOff", kAnswers,
     1, "120", "Auto Power Off setting Error!!"},
    {"power-off refused", kAuto, "lblAutoPowerOff", 0x3110, 30, "cmdDecAutoPowerOff", kRefuses, 1,
     "30", "Auto Power Off setting Error!!"},
};

QString shownBy(QWidget* display) {
    if (auto* slider = qobject_cast<QSlider*>(display)) {
        return QString::number(slider->value());
    }
    return static_cast<QLabel*>(display)->text();
}

// A point on the slider's groove, at a share of its width, as the slider's style draws it.
QPoint onGroove(const QSlider* slider, double at) {
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = option.sliderValue = slider->value();
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderGroove, slider);
    return {int(slider->width() * at), groove.center().y()};
}

template <typename Row>
void addRows(const QList<Row>& rows) {
    QTest::addColumn<int>("row");
    for (int i = 0; i < rows.size(); ++i) {
        if constexpr (requires { rows[i].name; }) {
            QTest::newRow(rows[i].name) << i;
        } else {
            QTest::addRow("%s %d", rows[i].slider, rows[i].position) << i;
        }
    }
}

}  // namespace

class SlidersTest : public PageSuite {
    Q_OBJECT

private slots:
    void cleanupTestCase() { closeWindow(); }

    void sliderShowsReportedValue_data() { addRows(kShown); }
    void sliderShowsReportedValue() {
        QFETCH(int, row);
        const Shown& s = kShown[row];
        Projector projector;
        DetailsForm& form = window();
        if (s.reported == kFails) {
            projector->failGet(s.type);
        } else {
            QVERIFY(projector->setValue(s.type, s.reported));
        }
        QVERIFY(showPage(form, s.page));
        auto* slider = form.findChild<QSlider*>(s.slider);
        QCOMPARE(slider->value(), s.position);
        QCOMPARE(slider->toolTip(), QString(s.tooltip));
        const QString suffix = QString(s.slider).mid(3);
        for (const QString& name : {"sld" + suffix, "cmdDec" + suffix, "cmdInc" + suffix}) {
            QVERIFY2(form.findChild<QWidget*>(name)->isEnabled() == (s.reported != kFails),
                     qPrintable(name));
        }
    }

    void refusedThenAcceptedMovement_data() { addRows(kMoves); }
    void refusedThenAcceptedMovement() {
        QFETCH(int, row);
        const Move& m = kMoves[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, m.page));
        auto* slider = form.findChild<QSlider*>(m.slider);
        const int accepted = slider->value();
        QVERIFY(accepted != m.position);
        projector->refuseSet(m.type);
        projector.clear();
        BoxAnswerer answerer;
        slider->setSliderPosition(m.position);  // as a drag or a key would
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, QString(m.message));
        QCOMPARE(answerer.seen[0].caption, QString("Lumeris"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
        QCOMPARE(slider->value(), accepted);
        QCOMPARE(slider->sliderPosition(), accepted);

        projector->refuseSet(m.type, false);
        slider->setSliderPosition(m.position);
        // The refused value and the accepted one; the old position is never sent back.
        QCOMPARE(projector.sent(), QStringList({set(m.type, m.value), set(m.type, m.value)}));
        QCOMPARE(slider->value(), m.position);
    }

    void everyMovementIsSent() {
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(0x2001, 10));
        QVERIFY(showPage(form, kOption));
        auto* volume = form.findChild<QSlider*>("sldVolume");
        projector.clear();
        volume->setSliderDown(true);
        for (int position = 11; position <= 14; ++position) {
            volume->setSliderPosition(position);
        }
        volume->setSliderDown(false);
        QTest::keyClick(volume, Qt::Key_PageUp);
        QCOMPARE(projector.sent(), QStringList({set(0x2001, 11), set(0x2001, 12), set(0x2001, 13),
                                                set(0x2001, 14), set(0x2001, 19)}));
    }

    // A press on the groove that the projector refuses, its release taken by the error box as
    // the window system does: one value sent, one box, and the window still takes a click.
    void refusedPressOnTheGroove_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("before");
        QTest::addColumn<double>("at");  // where on the groove, as a share of its width
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("message");
        QTest::newRow("volume, right of the handle")
            << "sldVolume" << 0x2001 << 10 << 0.9 << 15 << "Volume setting Error!!";
        QTest::newRow("magnify, left of the handle")
            << "sldMagnify" << 0x3007 << 20 << 0.1 << 15 << "Magnify setting Error!!";
    }
    void refusedPressOnTheGroove() {
        QFETCH(QString, slider);
        QFETCH(int, type);
        QFETCH(int, before);
        QFETCH(double, at);
        QFETCH(int, sent);
        QFETCH(QString, message);
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(type, before));
        QVERIFY(showPage(form, kOption));
        auto* groove = form.findChild<QSlider*>(slider);
        projector->refuseSet(type);
        projector.clear();
        QWindow* screen = form.windowHandle();
        const QPoint point = groove->mapTo(&form, onGroove(groove, at));
        BoxAnswerer answerer;
        answerer.whileShown = [&] { QTest::mouseRelease(screen, Qt::LeftButton, {}, point); };
        QTest::mousePress(screen, Qt::LeftButton, {}, point);
        QTest::qWait(1500);  // three times as long as the slider waits before it repeats
        QCOMPARE(projector.sent(), QStringList({set(type, sent)}));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, message);
        QCOMPARE(groove->value(), before);
        auto* close = form.findChild<QPushButton*>("cmdClose");
        QTest::mouseClick(screen, Qt::LeftButton, {}, close->mapTo(&form, close->rect().center()));
        QTRY_VERIFY(form.isHidden());
        closeWindow();
    }

    void movementDuringPollIsNotSent() {
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, kMain));
        auto* brightness = form.findChild<QSlider*>("sldBrightness");
        projector.clear();
        MainModule::MainUpdating = true;
        brightness->setSliderPosition(20);
        MainModule::MainUpdating = false;
        QCOMPARE(projector.sent(), QStringList());
        QCOMPARE(brightness->value(), 0);
    }

    void stepButtons_data() { addRows(kSteps); }
    void stepButtons() {
        QFETCH(int, row);
        const Step& s = kSteps[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(projector->setValue(s.type, s.reported));
        QVERIFY(showPage(form, s.page));
        auto* step = form.findChild<QPushButton*>(s.button);
        QVERIFY(step->isEnabled());
        if (s.projector == kRefuses) {
            projector->refuseSet(s.type);
        } else if (s.projector == kFailsReads) {
            projector->failGet(s.type);
        }
        projector.clear();
        BoxAnswerer answerer;
        step->click();
        const bool up = QString(s.button).startsWith("cmdInc");
        const QStringList sent = QStringList{up ? inc(s.type) : dec(s.type), get(s.type)};
        QCOMPARE(projector.sent(), sent.mid(0, s.sent));
        QCOMPARE(shownBy(form.findChild<QWidget*>(s.display)), QString(s.shown));
        QStringList messages;
        for (const BoxSeen& box : answerer.seen) {
            messages << box.text;
        }
        QCOMPARE(messages.join(""), QString(s.message));
    }

    void arrowButtons_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("axis");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("message");

        QTest::newRow("V position") << int(kPicture2) << "VPosition" << 0x2100 << "HPosition"
                                    << "V Position setting Error!!";
        QTest::newRow("H position") << int(kPicture2) << "HPosition" << 0x2101 << "VPosition"
                                    << "H Position setting Error!!";
        QTest::newRow("menu V") << int(kScreen) << "MenuPosV" << 0x3016 << "MenuPosH"
                                << "Menu Position V setting Error!!";
        QTest::newRow("menu H") << int(kScreen) << "MenuPosH" << 0x3015 << "MenuPosV"
                                << "Menu Position H setting Error!!";
    }
    void arrowButtons() {
        QFETCH(int, page);
        QFETCH(QString, axis);
        QFETCH(int, type);
        QFETCH(QString, other);
        QFETCH(QString, message);
        Projector projector;
        DetailsForm& form = window();
        auto button = [&](const QString& name) { return form.findChild<QPushButton*>(name); };
        QVERIFY(showPage(form, page));
        projector.clear();
        BoxAnswerer answerer;
        button("cmdDec" + axis)->click();
        projector->refuseSet(type);
        button("cmdInc" + axis)->click();
        // Nothing is read back after either.
        QCOMPARE(projector.sent(), QStringList({dec(type), inc(type)}));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, message);
        QVERIFY(!button("cmdDec" + axis)->icon().isNull());

        // A failed read makes only this axis's arrows unavailable.
        projector->failGet(type);
        QVERIFY(showPage(form, page));
        QVERIFY(!button("cmdDec" + axis)->isEnabled() && !button("cmdInc" + axis)->isEnabled());
        QVERIFY(button("cmdDec" + other)->isEnabled() && button("cmdInc" + other)->isEnabled());
        projector->failGet(type, false);
        QVERIFY(showPage(form, page));
        QVERIFY(button("cmdDec" + axis)->isEnabled() && button("cmdInc" + axis)->isEnabled());
    }
};

QTEST_MAIN(SlidersTest)
#include "tst_sliders.moc"
