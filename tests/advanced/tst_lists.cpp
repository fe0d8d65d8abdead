// Every drop-down list of the pages: the value each item sends, the item each reported value
// shows, refusals, and the choices the window must not send.
#include <QComboBox>
#include <QTest>

#include "Harness.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"

using namespace harness;

namespace {

struct Choice {
    Page page;
    const char* list;
    std::uint16_t type;
    int index;
    std::uint16_t value;
    const char* message;
};

// One choice per list, each unlike what the emulated projector starts with, and the items whose
// place in their list differs from their value.
const QList<Choice> kChoices = {
    {kSetup, "cmbPower", 0x6000, 1, 0, "Power setting Error!!"},
    {kSetup, "cmbInputSource", 0x2000, 0, 3, "Input Source setting Error!!"},
    {kSetup, "cmbInputSource", 0x2000, 5, 1, "Input Source setting Error!!"},
    {kMain, "cmbAspect", 0x2008, 2, 16, "Aspect setting Error!!"},
    {kMain, "cmbAspect", 0x2008, 3, 2, "Aspect setting Error!!"},
    {kMain, "cmbMurmelo", 0x3300, 1, 1, "Murmelo setting Error!!"},
    {kMain, "cmbMirror", 0x3001, 3, 3, "Mirror setting Error!!"},
    {kMain, "cmbLanguage", 0x3005, 7, 8, "Language setting Error!!"},
    {kMain, "cmbLanguage", 0x3005, 8, 7, "Language setting Error!!"},
    {kPicture1, "cmbGamma", 0x30A1, 3, 16, "Gamma setting Error!!"},
    {kPicture1, "cmbCustomColorTemp", 0x30B0, 0, 3, "Custom Color Temp setting Error!!"},
    {kPicture1, "cmbCustomColorTemp", 0x30B0, 2, 1, "Custom Color Temp setting Error!!"},
    {kPicture1, "cmbCustomUserR", 0x30B1, 3, 3, "Custom User R setting Error!!"},
    {kPicture1, "cmbCustomUserG", 0x30B2, 5, 5, "Custom User G setting Error!!"},
    {kPicture1, "cmbCustomUserB", 0x30B3, 1, 1, "Custom User B setting Error!!"},
    {kInput, "cmbColorSpace", 0x2204, 4, 4, "Color Space setting Error!!"},
    {kInput, "cmbComponent", 0x2017, 1, 1, "Component setting Error!!"},
    {kInput, "cmbVideoFormat", 0x2200, 4, 2, "Video Format setting Error!!"},
    {kInput, "cmb3DYCS", 0x220A, 1, 0, "3D-YCS setting Error!!"},
    {kInput, "cmbVideoNR", 0x2206, 0, 3, "Video NR setting Error!!"},
    {kInput, "cmbPinPInput", 0x2302, 1, 2, "PinP Input setting Error!!"},
    {kInput, "cmbPinPPosition", 0x2301, 3, 3, "PinP Position setting Error!!"},
    {kInput, "cmbPinPAudioCh", 0x2303, 1, 1, "PinP Audio Ch setting Error!!"},
    {kInput, "cmbPowerUpInput", 0x2018, 2, 0, "Power Up Input setting Error!!"},
    {kInput, "cmbS2Aspect", 0x220B, 0, 1, "S2 Aspect setting Error!!"},
    {kAuto, "cmbAutoPowerOn", 0x3120, 0, 1, "Auto Power On setting Error!!"},
    {kAuto, "cmbAutoSearch", 0x2016, 1, 0, "Auto Search setting Error!!"},
    {kScreen, "cmbBlankColor", 0x3000, 0, 32, "Blank Color setting Error!!"},
    {kScreen, "cmbBlankColor", 0x3000, 1, 64, "Blank Color setting Error!!"},
    {kScreen, "cmbBlank", 0x3020, 0, 1, "Blank setting Error!!"},
    {kScreen, "cmbStartup", 0x3004, 2, 1, "Startup setting Error!!"},
    {kScreen, "cmbStillmarkSize", 0x3012, 0, 1, "Stillmark Size setting Error!!"},
    {kScreen, "cmbStillmarkLock", 0x30C0, 0, 1, "Stillmark Lock setting Error!!"},
    {kScreen, "cmbMessage", 0x3017, 1, 0, "Message setting Error!!"},
    {kOption, "cmbMute", 0x2002, 0, 1, "Mute setting Error!!"},
    {kOption, "cmbSpeaker", 0x201C, 1, 0, "Speaker setting Error!!"},
    {kOption, "cmbIRRemoteID", 0x2608, 3, 3, "Remote ID setting Error!!"},
    {kOption, "cmbFreeze", 0x3002, 1, 1, "Freeze setting Error!!"},
    {kOption, "cmbAutoAdjust", 0x2019, 1, 0, "Auto Adjust setting Error!!"},
    {kOption, "cmbLensType", 0x2570, 5, 5, "Lens Type setting Error!!"},
    {kOption, "cmbLensLock", 0x2410, 0, 1, "Lens Lock setting Error!!"},
};

struct Report {
    const char* name;
    Page page;
    const char* list;
    std::uint16_t type;
    std::uint16_t value;
    int shown;  // kBefore: what the list showed before
};
constexpr int kBefore = -2;

const QList<Report> kReports = {
    {"power cooling down", kSetup, "cmbPower", 0x6000, 2, 1},
    {"input Video", kSetup, "cmbInputSource", 0x2000, 1, 5},
    {"input unknown", kSetup, "cmbInputSource", 0x2000, 7, kBefore},
    {"aspect Normal", kMain, "cmbAspect", 0x2008, 16, 2},
    {"Japanese", kMain, "cmbLanguage", 0x3005, 8, 7},
    {"Portuguese", kMain, "cmbLanguage", 0x3005, 7, 8},
    {"language 15", kMain, "cmbLanguage", 0x3005, 15, kBefore},
    {"colour temp User", kPicture1, "cmbCustomColorTemp", 0x30B0, 16, 3},
    {"colour space 7", kInput, "cmbColorSpace", 0x2204, 7, kBefore},
    {"NTSC 4.43", kInput, "cmbVideoFormat", 0x2200, 2, 4},
    {"power-up Last Input", kInput, "cmbPowerUpInput", 0x2018, 16, 0},
    {"power-up RGB", kInput, "cmbPowerUpInput", 0x2018, 0, 2},
    {"blank Original", kScreen, "cmbBlankColor", 0x3000, 64, 1},
    {"blank colour 4", kScreen, "cmbBlankColor", 0x3000, 4, kBefore},
    {"startup Original", kScreen, "cmbStartup", 0x3004, 0, 1},
    {"remote ID All", kOption, "cmbIRRemoteID", 0x2608, 0, 0},
};

}  // namespace

class ListsTest : public PageSuite {
    Q_OBJECT

private slots:
    void cleanupTestCase() { closeWindow(); }

    void refusedThenAcceptedChoice_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kChoices.size(); ++i) {
            QTest::addRow("%s %d", kChoices[i].list, kChoices[i].index) << i;
        }
    }
    void refusedThenAcceptedChoice() {
        QFETCH(int, row);
        const Choice& c = kChoices[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, c.page));
        auto* box = form.findChild<QComboBox*>(c.list);
        QVERIFY(box);
        const int accepted = box->currentIndex();
        QVERIFY(accepted >= 0);
        projector->refuseSet(c.type);
        projector.clear();
        BoxAnswerer answerer;
        choose(box, c.index);
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].text, QString(c.message));
        QCOMPARE(answerer.seen[0].caption, QString("Lumeris"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
        QCOMPARE(box->currentIndex(), accepted);

        projector->refuseSet(c.type, false);
        choose(box, c.index);
        // The refused value and the accepted one; the old value is never sent back.
        QCOMPARE(projector.sent(), QStringList({set(c.type, c.value), set(c.type, c.value)}));
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(box->currentIndex(), c.index);
    }

    void reportedValueShowsItsItem_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kReports.size(); ++i) {
            QTest::newRow(kReports[i].name) << i;
        }
    }
    void reportedValueShowsItsItem() {
        QFETCH(int, row);
        const Report& r = kReports[row];
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, r.page));
        auto* box = form.findChild<QComboBox*>(r.list);
        QVERIFY(box);
        const int before = box->currentIndex();
        QVERIFY(before >= 0);
        QVERIFY(projector->setValue(r.type, r.value));
        QVERIFY(showPage(form, r.page));
        const int shown = r.shown == kBefore ? before : r.shown;
        QCOMPARE(box->currentIndex(), shown);
        QVERIFY(box->isEnabled());
        // What the poll showed is what a refusal goes back to.
        projector->refuseSet(r.type);
        BoxAnswerer answerer;
        choose(box, shown == 0 ? 1 : 0);
        QCOMPARE(box->currentIndex(), shown);
    }

    void choiceIgnoredWhileBusy_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("mainPoll");  // else the page's own poll runs
        QTest::addColumn<bool>("sent");

        QTest::newRow("page poll") << int(kMain) << "cmbAspect" << false << false;
        QTest::newRow("page poll, mirror") << int(kOption) << "cmbMute" << false << false;
        QTest::newRow("power") << int(kSetup) << "cmbPower" << true << false;
        QTest::newRow("input") << int(kSetup) << "cmbInputSource" << true << false;
        QTest::newRow("blank") << int(kScreen) << "cmbBlank" << true << false;
        QTest::newRow("mute") << int(kOption) << "cmbMute" << true << false;
        QTest::newRow("no mirror") << int(kScreen) << "cmbBlankColor" << true << true;
    }
    void choiceIgnoredWhileBusy() {
        QFETCH(int, page);
        QFETCH(QString, list);
        QFETCH(bool, mainPoll);
        QFETCH(bool, sent);
        Projector projector;
        DetailsForm& form = window();
        QVERIFY(showPage(form, page));
        auto* box = form.findChild<QComboBox*>(list);
        const int accepted = box->currentIndex();
        const int other = accepted == 0 ? 1 : 0;
        bool& busy = mainPoll ? MainModule::StatusPollBusy : pageFlag(page);
        projector.clear();
        busy = true;
        choose(box, other);
        busy = false;
        QCOMPARE(projector.sent().size(), sent ? 1 : 0);
        // A choice that was not sent does not stay on screen.
        QCOMPARE(box->currentIndex(), sent ? other : accepted);
    }
};

QTEST_MAIN(ListsTest)
#include "tst_lists.moc"
