// MAIN: brightness, contrast, aspect, Murmelo, mirror and menu language.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& mainPage() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "MAIN",
        .timer = "MainStatusTimer",
        .updating = &MainModule::MainUpdating,
        .rows = {
            SliderRow{.name = "sldBrightness",
                      .caption = {"Label1", "Brightness"},
                      .min = -32, .max = 32, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 4, .position = 0, .offset = 128, .fallback = 0,
                      .get = &ZV_GetBrightness,
                      .set = &ZV_SetBrightness,
                      .decrement = &ZV_DecrementBrightness,
                      .increment = &ZV_IncrementBrightness,
                      .message = "Brightness setting Error!!"},
            SliderRow{.name = "sldContrast",
                      .caption = {"Label2", "Contrast"},
                      .min = -32, .max = 32, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 4, .position = 0, .offset = 128, .fallback = 0,
                      .get = &ZV_GetContrast,
                      .set = &ZV_SetContrast,
                      .decrement = &ZV_DecrementContrast,
                      .increment = &ZV_IncrementContrast,
                      .message = "Contrast setting Error!!"},
            ListRow{.name = "cmbAspect",
                    .caption = {"Label3", "Aspect"},
                    .items = {{"4:3", 0}, {"16:9", 1}, {"Normal", 16}, {"Small", 2}},
                    .get = &ZV_GetAspect,
                    .set = &ZV_SetAspect,
                    .message = "Aspect setting Error!!"},
            ListRow{.name = "cmbMurmelo",
                    .caption = {"Label4", "Murmelo"},
                    .items = {{"Normal", 0}, {"Murmelo", 1}},
                    .get = &ZV_GetMurmelo,
                    .set = &ZV_SetMurmelo,
                    .message = "Murmelo setting Error!!"},
            ListRow{.name = "cmbMirror",
                    .caption = {"Label5", "Mirror"},
                    .items = {{"Normal", 0}, {"H Inverse", 1}, {"V Inverse", 2},
                              {"H&V Inverse", 3}},
                    .get = &ZV_GetMirror,
                    .set = &ZV_SetMirror,
                    .message = "Mirror setting Error!!"},
            ListRow{.name = "cmbLanguage",
                    .caption = {"Label6", "Language"},
                    .items = {{"English", 0}, {"French", 1}, {"Germany", 2}, {"Spanish", 3},
                              {"Italian", 4}, {"Norwegian", 5}, {"Dutch", 6},
                              {"Japanese", 8}, {"Portuguese", 7}, {"Chinese", 9},
                              {"Korean", 10}, {"Swedish", 11}, {"Russian", 12},
                              {"Finnish", 13}, {"Polish", 14}},
                    .get = &ZV_GetLanguage,
                    .set = &ZV_SetLanguage,
                    .message = "Language setting Error!!"},
            SelectorRow{.name = "cmbResetMain",
                        .executeName = "cmdResetMainExec",
                        .caption = {"Label62", "Reset"},
                        .asksReset = true,
                        .actions = {{.text = "Brightness",
                                     .run = &ZV_ResetBrightness,
                                     .message = "Brightness Reset Error!!",
                                     .rereads = "sldBrightness"},
                                    {.text = "Contrast",
                                     .run = &ZV_ResetContrast,
                                     .message = "Contrast Reset Error!!",
                                     .rereads = "sldContrast"}}},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
