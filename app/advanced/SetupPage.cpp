// SETUP: power, input source and keystone.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& setupPage() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "SETUP",
        .timer = "SetupStatusTimer",
        .updating = &MainModule::SetupUpdating,
        .rows = {
            ListRow{.name = "cmbPower",
                    .caption = {"Label16", "Power"},
                    .items = {{"ON", 1}, {"OFF", 0, 2}},  // 2: cooling down
                    .get = &ZV_GetPower,
                    .set = &ZV_SetPower,
                    .message = "Power setting Error!!",
                    .mirrorsMainWindow = true},
            ListRow{.name = "cmbInputSource",
                    .caption = {"Label67", "Input Source"},
                    .items = {{"M1-D", 3}, {"RGB", 0}, {"BNC", 4},
                              {"Component", 5}, {"S-Video", 2}, {"Video", 1}},
                    .get = &ZV_GetInputSource,
                    .set = &ZV_SetInputSource,
                    .message = "Input Source setting Error!!",
                    .mirrorsMainWindow = true},
            SliderRow{.name = "sldKeystoneV",
                      .caption = {"Label51", "Keystone V"},
                      .min = -64, .max = 64, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 8, .position = 0, .offset = 128, .fallback = 0,
                      .get = &ZV_GetKeystoneV,
                      .set = &ZV_SetKeystoneV,
                      .decrement = &ZV_DecrementKeystoneV,
                      .increment = &ZV_IncrementKeystoneV,
                      .message = "Keystone V setting Error!!"},
            SliderRow{.name = "sldKeystoneH",
                      .caption = {"Label52", "Keystone H"},
                      .min = -64, .max = 64, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 8, .position = 0, .offset = 128, .fallback = 0,
                      .get = &ZV_GetKeystoneH,
                      .set = &ZV_SetKeystoneH,
                      .decrement = &ZV_DecrementKeystoneH,
                      .increment = &ZV_IncrementKeystoneH,
                      .message = "Keystone H setting Error!!"},
            SelectorRow{.name = "cmbResetSetup",
                        .executeName = "cmdResetSetupExec",
                        .caption = {"Label68", "Reset"},
                        .asksReset = true,
                        .actions = {{.text = "Keystone V",
                                     .run = &ZV_ResetKeystoneV,
                                     .message = "Keystone V Reset Error!!",
                                     .rereads = "sldKeystoneV"},
                                    {.text = "Keystone H",
                                     .run = &ZV_ResetKeystoneH,
                                     .message = "Keystone H Reset Error!!",
                                     .rereads = "sldKeystoneH"}}},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
