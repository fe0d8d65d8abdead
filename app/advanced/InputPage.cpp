// INPUT: the input-signal settings, all drop-down lists.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& inputPage() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "INPUT",
        .timer = "InputStatusTimer",
        .updating = &MainModule::InputUpdating,
        .rows = {
            ListRow{.name = "cmbColorSpace",
                    .caption = {"Label20", "Color Space"},
                    .items = {{"Auto", 0}, {"RGB", 1}, {"SMPTE240", 2}, {"REC709", 3},
                              {"REC601", 4}},
                    .get = &ZV_GetColorSpace,
                    .set = &ZV_SetColorSpace,
                    .message = "Color Space setting Error!!"},
            ListRow{.name = "cmbComponent",
                    .caption = {"Label21", "Component"},
                    .items = {{"Component", 0}, {"Scart RGB", 1}},
                    .get = &ZV_GetComponent,
                    .set = &ZV_SetComponent,
                    .message = "Component setting Error!!"},
            ListRow{.name = "cmbVideoFormat",
                    .caption = {"Label22", "Video Format"},
                    .items = {{"Auto", 10}, {"NTSC", 4}, {"PAL", 5}, {"SECAM", 9},
                              {"NTSC 4.43", 2}, {"M-PAL", 8}, {"N-PAL", 7}},
                    .get = &ZV_GetVideoFormat,
                    .set = &ZV_SetVideoFormat,
                    .message = "Video Format setting Error!!"},
            ListRow{.name = "cmb3DYCS",
                    .caption = {"Label23", "3D-YCS"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_Get3DYC,
                    .set = &ZV_Set3DYC,
                    .message = "3D-YCS setting Error!!"},
            ListRow{.name = "cmbVideoNR",
                    .caption = {"Label24", "Video NR"},
                    .items = {{"High", 3}, {"Middle", 2}, {"Low", 1}},
                    .get = &ZV_GetVideoNR,
                    .set = &ZV_SetVideoNR,
                    .message = "Video NR setting Error!!"},
            ListRow{.name = "cmbPinPInput",
                    .caption = {"Label25", "PinP Input"},
                    .items = {{"Video", 1}, {"S-Video", 2}},
                    .get = &ZV_GetPinPInput,
                    .set = &ZV_SetPinPInput,
                    .message = "PinP Input setting Error!!"},
            ListRow{.name = "cmbPinPPosition",
                    .caption = {"Label26", "PinP Position"},
                    .items = {{"Upper Left", 0}, {"Upper Right", 1}, {"Bottom Left", 2},
                              {"Bottom Right", 3}},
                    .get = &ZV_GetPinPPosition,
                    .set = &ZV_SetPinPPosition,
                    .message = "PinP Position setting Error!!"},
            ListRow{.name = "cmbPinPAudioCh",
                    .caption = {"Label59", "PinP Audio Ch"},
                    .items = {{"RGB", 0}, {"Video", 1}},
                    .get = &ZV_GetPinPAudioCh,
                    .set = &ZV_SetPinPAudioCh,
                    .message = "PinP Audio Ch setting Error!!"},
            ListRow{.name = "cmbPowerUpInput",
                    .caption = {"Label27", "Power Up Input"},
                    .items = {{"Last Input", 16}, {"M1-D", 3}, {"RGB", 0}, {"BNC", 4},
                              {"Component", 5}, {"S-Video", 2}, {"Video", 1}},
                    .get = &ZV_GetPowerUpSource,
                    .set = &ZV_SetPowerUpSource,
                    .message = "Power Up Input setting Error!!"},
            ListRow{.name = "cmbS2Aspect",
                    .caption = {"Label28", "S2-Aspect"},
                    .items = {{"ON", 1}, {"OFF", 0}},
                    .get = &ZV_GetS2Aspect,
                    .set = &ZV_SetS2Aspect,
                    .message = "S2 Aspect setting Error!!"},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
