// SCREEN: blanking, start-up screen, Stillmark, on-screen messages and the menu position.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& screenPage() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "SCREEN",
        .timer = "ScreenStatusTimer",
        .updating = &MainModule::ScreenUpdating,
        .rows = {
            ListRow{.name = "cmbBlankColor",
                    .caption = {"Label33", "Blank Color"},
                    .items = {{"Stillmark", 0x20}, {"Original", 0x40}, {"Blue", 3},
                              {"White", 5}, {"Black", 6}},
                    .get = &ZV_GetBlankColor,
                    .set = &ZV_SetBlankColor,
                    .message = "Blank Color setting Error!!"},
            ListRow{.name = "cmbBlank",
                    .caption = {"Label35", "Blank"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetBlank,
                    .set = &ZV_SetBlank,
                    .message = "Blank setting Error!!",
                    .mirrorsMainWindow = true},
            ListRow{.name = "cmbStartup",
                    .caption = {"Label34", "Startup"},
                    .items = {{"Stillmark", 0x20}, {"Original", 0}, {"OFF", 1}},
                    .get = &ZV_GetStartup,
                    .set = &ZV_SetStartup,
                    .message = "Startup setting Error!!"},
            ListRow{.name = "cmbStillmarkSize",
                    .caption = {"Label36", "Stillmark Size"},
                    .items = {{"x1", 1}, {"Full", 0}},
                    .get = &ZV_GetStillmarkSize,
                    .set = &ZV_SetStillmarkSize,
                    .message = "Stillmark Size setting Error!!"},
            ListRow{.name = "cmbStillmarkLock",
                    .caption = {"Label37", "Stillmark Lock"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetStillmarkLock,
                    .set = &ZV_SetStillmarkLock,
                    .message = "Stillmark Lock setting Error!!"},
            ArrowsRow{.caption = {"Label38", "Menu Position"},
                      .decrementName = "cmdDecMenuPosV",
                      .decrementArrow = Qt::UpArrow,
                      .incrementName = "cmdIncMenuPosV",
                      .incrementArrow = Qt::DownArrow,
                      .get = &ZV_GetMenuPositionV,
                      .decrement = &ZV_DecrementMenuPositionV,
                      .increment = &ZV_IncrementMenuPositionV,
                      .message = "Menu Position V setting Error!!"},
            ArrowsRow{.decrementName = "cmdDecMenuPosH",
                      .decrementArrow = Qt::LeftArrow,
                      .incrementName = "cmdIncMenuPosH",
                      .incrementArrow = Qt::RightArrow,
                      .get = &ZV_GetMenuPositionH,
                      .decrement = &ZV_DecrementMenuPositionH,
                      .increment = &ZV_IncrementMenuPositionH,
                      .message = "Menu Position H setting Error!!"},
            ListRow{.name = "cmbMessage",
                    .caption = {"Label40", "Message"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetMessage,
                    .set = &ZV_SetMessage,
                    .message = "Message setting Error!!"},
            // The menu position has no display, so its reset reads nothing back.
            SelectorRow{.name = "cmbResetScreen",
                        .executeName = "cmdResetScreenExec",
                        .caption = {"Label65", "Reset"},
                        .asksReset = true,
                        .actions = {{.text = "Menu Position V",
                                     .run = &ZV_ResetMenuPositionV,
                                     .message = "Menu Position V Reset Error!!"},
                                    {.text = "Menu Position H",
                                     .run = &ZV_ResetMenuPositionH,
                                     .message = "Menu Position H Reset Error!!"}}},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
