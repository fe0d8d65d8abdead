// AUTO: automatic adjustment, auto power-off delay, auto power-on and input search.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& autoPage() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "AUTO",
        .timer = "AutoStatusTimer",
        .updating = &MainModule::AutoUpdating,
        .rows = {
            CommandRow{.name = "cmdAutoAdjustExec",
                       .caption = {"Label29", "Adjust"},
                       .text = "Execute",
                       .run = &ZV_ExecuteAutoAdjust,
                       .message = "Auto Adjust Error!!"},
            // Only exactly 0 and 99 stop the buttons; the projector decides the step and range.
            ValueLabelRow{.name = "lblAutoPowerOff",
                          .caption = {"Label30", "Power Off"},
                          .unit = {"Label15", "min"},
                          .get = &ZV_GetAutoOff,
                          .decrement = &ZV_DecrementAutoOff,
                          .increment = &ZV_IncrementAutoOff,
                          .message = "Auto Power Off setting Error!!",
                          .lowest = 0,
                          .highest = 99},
            ListRow{.name = "cmbAutoPowerOn",
                    .caption = {"Label31", "Power On"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetAutoPowerOn,
                    .set = &ZV_SetAutoPowerOn,
                    .message = "Auto Power On setting Error!!"},
            ListRow{.name = "cmbAutoSearch",
                    .caption = {"Label32", "Search"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetAutoSearch,
                    .set = &ZV_SetAutoSearch,
                    .message = "Auto Search setting Error!!"},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
