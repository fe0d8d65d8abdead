// The advanced window's own words: every caption label, list entry, button caption and arrow
// picture, one row per control, and the texts of the error status, each looked at on its page
// after the user has selected that page's tab with the mouse.
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <cstdlib>

#include "../app/ShownText.h"
#include "Harness.h"
#include "advanced/DetailsForm.h"

using namespace harness;

namespace {

struct Shown {
    int page;  // -1: the window itself
    const char* name;
    const char* text;  // entries joined by "|"; "arrow up 7x6" and so on for a picture button
};

const char* const kOnOff = "ON|OFF";
const char* const kUserGains = "100|90|80|70|60|50";

// clang-format off
const Shown kShown[] = {
    {-1, "DetailsForm", "Advanced Control"},
    {-1, "SSTab1", "SETUP|MAIN|PICTURE-1|PICTURE-2|INPUT|AUTO|SCREEN|OPTION"},
    {-1, "cmdClose", "Close"},

    {kSetup, "Label16", "Power"},
    {kSetup, "cmbPower", kOnOff},
    {kSetup, "Label67", "Input Source"},
    {kSetup, "cmbInputSource", "M1-D|RGB|BNC|Component|S-Video|Video"},
    {kSetup, "Label51", "Keystone V"},
    {kSetup, "cmdDecKeystoneV", "-"},
    {kSetup, "cmdIncKeystoneV", "+"},
    {kSetup, "Label52", "Keystone H"},
    {kSetup, "cmdDecKeystoneH", "-"},
    {kSetup, "cmdIncKeystoneH", "+"},
    {kSetup, "Label68", "Reset"},
    {kSetup, "cmbResetSetup", "Keystone V|Keystone H"},
    {kSetup, "cmdResetSetupExec", "Execute"},

    {kMain, "Label1", "Brightness"},
    {kMain, "cmdDecBrightness", "-"},
    {kMain, "cmdIncBrightness", "+"},
    {kMain, "Label2", "Contrast"},
    {kMain, "cmdDecContrast", "-"},
    {kMain, "cmdIncContrast", "+"},
    {kMain, "Label3", "Aspect"},
    {kMain, "cmbAspect", "4:3|16:9|Normal|Small"},
    {kMain, "Label4", "Murmelo"},
    {kMain, "cmbMurmelo", "Normal|Murmelo"},
    {kMain, "Label5", "Mirror"},
    {kMain, "cmbMirror", "Normal|H Inverse|V Inverse|H&V Inverse"},
    {kMain, "Label6", "Language"},
    {kMain, "cmbLanguage", "English|French|Germany|Spanish|Italian|Norwegian|Dutch|Japanese|"
                           "Portuguese|Chinese|Korean|Swedish|Russian|Finnish|Polish"},
    {kMain, "Label62", "Reset"},
    {kMain, "cmbResetMain", "Brightness|Contrast"},
    {kMain, "cmdResetMainExec", "Execute"},

    {kPicture1, "Label7", "Gamma"},
    {kPicture1, "cmbGamma", "Normal|Cinema|Dynamic|Custom"},
    {kPicture1, "Label53", "Custom Gamma"},
    {kPicture1, "cmdDecCustomGamma", "-"},
    {kPicture1, "cmdIncCustomGamma", "+"},
    {kPicture1, "Label54", "Custom Color Temp"},
    {kPicture1, "cmbCustomColorTemp", "High|Middle|Low|User"},
    {kPicture1, "Label55", "Custom User R"},
    {kPicture1, "cmbCustomUserR", kUserGains},
    {kPicture1, "Label56", "Custom User G"},
    {kPicture1, "cmbCustomUserG", kUserGains},
    {kPicture1, "Label57", "Custom User B"},
    {kPicture1, "cmbCustomUserB", kUserGains},
    {kPicture1, "Label8", "Color Bal R"},
    {kPicture1, "cmdDecColorBalR", "-"},
    {kPicture1, "cmdIncColorBalR", "+"},
    {kPicture1, "Label9", "Color Bal G"},
    {kPicture1, "cmdDecColorBalG", "-"},
    {kPicture1, "cmdIncColorBalG", "+"},
    {kPicture1, "Label10", "Color Bal B"},
    {kPicture1, "cmdDecColorBalB", "-"},
    {kPicture1, "cmdIncColorBalB", "+"},
    {kPicture1, "Label11", "Sharpness"},
    {kPicture1, "cmdDecSharpness", "-"},
    {kPicture1, "cmdIncSharpness", "+"},
    {kPicture1, "Label12", "Color"},
    {kPicture1, "cmdDecColor", "-"},
    {kPicture1, "cmdIncColor", "+"},
    {kPicture1, "Label13", "Tint"},
    {kPicture1, "cmdDecTint", "-"},
    {kPicture1, "cmdIncTint", "+"},
    {kPicture1, "Label14", "Slotkeep"},
    {kPicture1, "cmbSlotkeep", "Load 1|Load 2|Load 3|Load 4|Save 1|Save 2|Save 3|Save 4"},
    {kPicture1, "cmdSlotkeepExec", "Execute"},
    {kPicture1, "Label63", "Reset"},
    {kPicture1, "cmbResetPicture1", "Color Bal R|Color Bal G|Color Bal B|Sharpness|Color|Tint"},
    {kPicture1, "cmdResetPicture1Exec", "Execute"},

    {kPicture2, "Label39", "Position"},
    {kPicture2, "cmdDecVPosition", "arrow down 7x6"},
    {kPicture2, "cmdIncVPosition", "arrow up 7x6"},
    {kPicture2, "cmdDecHPosition", "arrow left 6x7"},
    {kPicture2, "cmdIncHPosition", "arrow right 6x7"},
    {kPicture2, "Label18", "H Size"},
    {kPicture2, "cmdDecHSize", "-"},
    {kPicture2, "cmdIncHSize", "+"},
    {kPicture2, "Label17", "H Phase"},
    {kPicture2, "cmdDecHPhase", "-"},
    {kPicture2, "cmdIncHPhase", "+"},
    {kPicture2, "Label19", "Over Scan"},
    {kPicture2, "cmdDecOverScan", "-"},
    {kPicture2, "cmdIncOverScan", "+"},
    {kPicture2, "Label64", "Reset"},
    {kPicture2, "cmbResetPicture2", "V Position|H Position|H Size|OverScan"},
    {kPicture2, "cmdResetPicture2Exec", "Execute"},

    {kInput, "Label20", "Color Space"},
    {kInput, "cmbColorSpace", "Auto|RGB|SMPTE240|REC709|REC601"},
    {kInput, "Label21", "Component"},
    {kInput, "cmbComponent", "Component|Scart RGB"},
    {kInput, "Label22", "Video Format"},
    {kInput, "cmbVideoFormat", "Auto|NTSC|PAL|SECAM|NTSC 4.43|M-PAL|N-PAL"},
    {kInput, "Label23", "3D-YCS"},
    {kInput, "cmb3DYCS", kOnOff},
    {kInput, "Label24", "Video NR"},
    {kInput, "cmbVideoNR", "High|Middle|Low"},
    {kInput, "Label25", "PinP Input"},
    {kInput, "cmbPinPInput", "Video|S-Video"},
    {kInput, "Label26", "PinP Position"},
    {kInput, "cmbPinPPosition", "Upper Left|Upper Right|Bottom Left|Bottom Right"},
    {kInput, "Label59", "PinP Audio Ch"},
    {kInput, "cmbPinPAudioCh", "RGB|Video"},
    {kInput, "Label27", "Power Up Input"},
    {kInput, "cmbPowerUpInput", "Last Input|M1-D|RGB|BNC|Component|S-Video|Video"},
    {kInput, "Label28", "S2-Aspect"},
    {kInput, "cmbS2Aspect", kOnOff},

    {kAuto, "Label29", "Adjust"},
    {kAuto, "cmdAutoAdjustExec", "Execute"},
    {kAuto, "Label30", "Power Off"},
    {kAuto, "cmdDecAutoPowerOff", "-"},
    {kAuto, "cmdIncAutoPowerOff", "+"},
    {kAuto, "Label15", "min"},
    {kAuto, "Label31", "Power On"},
    {kAuto, "cmbAutoPowerOn", kOnOff},
    {kAuto, "Label32", "Search"},
    {kAuto, "cmbAutoSearch", kOnOff},

    {kScreen, "Label35", "Blank"},
    {kScreen, "cmbBlank", kOnOff},
    {kScreen, "Label33", "Blank Color"},
    {kScreen, "cmbBlankColor", "Stillmark|Original|Blue|White|Black"},
    {kScreen, "Label34", "Startup"},
    {kScreen, "cmbStartup", "Stillmark|Original|OFF"},
    {kScreen, "Label36", "Stillmark Size"},
    {kScreen, "cmbStillmarkSize", "x1|Full"},
    {kScreen, "Label37", "Stillmark Lock"},
    {kScreen, "cmbStillmarkLock", kOnOff},
    {kScreen, "Label40", "Message"},
    {kScreen, "cmbMessage", kOnOff},
    {kScreen, "Label38", "Menu Position"},
    {kScreen, "cmdDecMenuPosV", "arrow up 7x6"},
    {kScreen, "cmdIncMenuPosV", "arrow down 7x6"},
    {kScreen, "cmdDecMenuPosH", "arrow left 6x7"},
    {kScreen, "cmdIncMenuPosH", "arrow right 6x7"},
    {kScreen, "Label65", "Reset"},
    {kScreen, "cmbResetScreen", "Menu Position V|Menu Position H"},
    {kScreen, "cmdResetScreenExec", "Execute"},

    {kOption, "Label60", "Mute"},
    {kOption, "cmbMute", kOnOff},
    {kOption, "Label42", "Speaker"},
    {kOption, "cmbSpeaker", kOnOff},
    {kOption, "Label47", "IR Remote ID"},
    {kOption, "cmbIRRemoteID", "All|1|2|3"},
    {kOption, "Label61", "Freeze"},
    {kOption, "cmbFreeze", "Normal|Freeze"},
    {kOption, "Label46", "Auto Adjust"},
    {kOption, "cmbAutoAdjust", "Enable|Disable"},
    {kOption, "Label50", "Lens Type"},
    {kOption, "cmbLensType", "All|1|2|3|4|5"},
    {kOption, "Label58", "Lens Lock"},
    {kOption, "cmbLensLock", kOnOff},
    {kOption, "Label43", "IR Remote"},
    {kOption, "chkIRFront", "Front"},
    {kOption, "chkIRRear", "Rear"},
    {kOption, "chkIRTop", "Top"},
    {kOption, "Label41", "Volume"},
    {kOption, "cmdDecVolume", "-"},
    {kOption, "cmdIncVolume", "+"},
    {kOption, "Label71", "Magnify"},
    {kOption, "cmdDecMagnify", "-"},
    {kOption, "cmdIncMagnify", "+"},
    {kOption, "Label48", "Lamp Time"},
    {kOption, "Label44", "h"},
    {kOption, "Label49", "Filter Time"},
    {kOption, "Label45", "h"},
    {kOption, "Label69", "Error Status"},
    {kOption, "Label66", "Reset"},
    {kOption, "cmbResetOption", "Lamp Time|Filter Time"},
    {kOption, "cmdResetOptionExec", "Execute"},
};
// clang-format on

// Where the black triangle drawn on a picture button points, read from the button as it is
// rendered (the apex is the narrow end of the darkest pixels in its middle), and the size of the
// picture.
QString drawnArrow(QPushButton* button) {
    const QImage image = button->grab().toImage();
    QRect middle(QPoint(), button->iconSize() + QSize(4, 4));
    middle.moveCenter(image.rect().center());
    int darkest = 255;
    for (int y = middle.top(); y <= middle.bottom(); ++y) {
        for (int x = middle.left(); x <= middle.right(); ++x) {
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
        }
    }
    if (darkest > 32) {
        return QStringLiteral("no black picture");
    }
    QMap<int, int> rows;
    QMap<int, int> columns;
    for (int y = middle.top(); y <= middle.bottom(); ++y) {
        for (int x = middle.left(); x <= middle.right(); ++x) {
            if (qGray(image.pixel(x, y)) <= darkest + 40) {
                ++rows[y];
                ++columns[x];
            }
        }
    }
    const int top = rows.first(), bottom = rows.last();
    const int left = columns.first(), right = columns.last();
    const char* direction = std::abs(top - bottom) >= std::abs(left - right)
                                ? (top < bottom ? "up" : "down")
                                : (left < right ? "left" : "right");
    return QStringLiteral("arrow %1 %2x%3")
        .arg(direction)
        .arg(button->iconSize().width())
        .arg(button->iconSize().height());
}

// The user selects the page's tab with the mouse and waits for its reads.
bool clickTab(DetailsForm& form, int page) {
    QTabBar* tabs = form.findChild<QTabWidget*>("SSTab1")->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
    return tabs->currentIndex() == page && pollIsOver(form, page);
}

int currentTab(DetailsForm& form) { return form.findChild<QTabWidget*>("SSTab1")->currentIndex(); }

}  // namespace

class CaptionsTest : public PageSuite {
    Q_OBJECT

private slots:
    void eachControlShowsItsText_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kShown)); ++row) {
            QTest::newRow(kShown[row].name) << row;
        }
    }

    void eachControlShowsItsText() {
        QFETCH(int, row);
        const Shown& expected = kShown[row];
        QVERIFY(projector_.started());
        DetailsForm& form = window();
        if (expected.page >= 0 && currentTab(form) != expected.page) {
            QVERIFY(clickTab(form, expected.page));
        }
        QWidget* control = form.objectName() == expected.name
                               ? &form
                               : form.findChild<QWidget*>(QString::fromUtf8(expected.name));
        QVERIFY(control);
        QVERIFY2(control->isVisible(), "not on the page shown");
        auto* button = qobject_cast<QPushButton*>(control);
        const bool picture = button != nullptr && button->text().isEmpty();
        QVERIFY2(!shown::CutOff(control), "text cut off");
        QCOMPARE(picture ? drawnArrow(button) : shown::Text(control), QString(expected.text));
    }

    void errorStatusText_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const char* const texts[] = {
            "Normal",        "Cover Error",    "Fan Error",  "Lamp Error",   "Temp Error",
            "Airflow Error", "Lamp Time Over", "Cool Error", "Filter Error", "Filter Missing"};
        for (int status = 0; status < int(std::size(texts)); ++status) {
            QTest::addRow("%d", status) << status << QString(texts[status]);
        }
    }
    void errorStatusText() {
        QFETCH(int, status);
        QFETCH(QString, text);
        QVERIFY(projector_->setValue(0x6020, std::uint16_t(status)));
        DetailsForm& form = window();
        if (currentTab(form) == kOption) {
            QVERIFY(clickTab(form, kAuto));  // so that selecting OPTION reads it again
        }
        QVERIFY(clickTab(form, kOption));
        auto* label = form.findChild<QLabel*>("lblErrorStatus");
        QVERIFY(label);
        QVERIFY2(!shown::CutOff(label), "text cut off");
        QCOMPARE(label->text(), text);
    }

private:
    Projector projector_;  // its answers make the step and arrow buttons usable
};

QTEST_MAIN(CaptionsTest)
#include "tst_captions.moc"
