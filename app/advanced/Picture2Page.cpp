// PICTURE-2: picture position, horizontal phase and size, over-scan.
#include "MainModule.h"
#include "Pages.h"

namespace Advanced {

const PageTable& picture2Page() {
    using namespace Define;
    // clang-format off
    static const PageTable page{
        .caption = "PICTURE-2",
        .timer = "Picture2StatusTimer",
        .updating = &MainModule::Picture2Updating,
        .rows = {
            ArrowsRow{.caption = {"Label39", "Position"},
                      .decrementName = "cmdDecVPosition",
                      .decrementArrow = Qt::DownArrow,
                      .incrementName = "cmdIncVPosition",
                      .incrementArrow = Qt::UpArrow,
                      .get = &ZV_GetVPosition,
                      .decrement = &ZV_DecrementVPosition,
                      .increment = &ZV_IncrementVPosition,
                      .message = "V Position setting Error!!"},
            ArrowsRow{.decrementName = "cmdDecHPosition",
                      .decrementArrow = Qt::LeftArrow,
                      .incrementName = "cmdIncHPosition",
                      .incrementArrow = Qt::RightArrow,
                      .get = &ZV_GetHPosition,
                      .decrement = &ZV_DecrementHPosition,
                      .increment = &ZV_IncrementHPosition,
                      .message = "H Position setting Error!!"},
            SliderRow{.name = "sldHPhase",
                      .caption = {"Label17", "H Phase"},
                      .min = 0, .max = 31, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 1, .position = 0, .offset = 0, .fallback = 0,
                      .get = &ZV_GetHPhase,
                      .set = &ZV_SetHPhase,
                      .decrement = &ZV_DecrementHPhase,
                      .increment = &ZV_IncrementHPhase,
                      .message = "H Phase setting Error!!"},
            // No upper limit of its own: the projector refuses a step too far.
            ValueLabelRow{.name = "lblHSize",
                          .caption = {"Label18", "H Size"},
                          .get = &ZV_GetHSize,
                          .decrement = &ZV_DecrementHSize,
                          .increment = &ZV_IncrementHSize,
                          .message = "H Size setting Error!!",
                          .lowest = 0,
                          .highest = std::nullopt},
            SliderRow{.name = "sldOverScan",
                      .caption = {"Label19", "Over Scan"},
                      .min = 90, .max = 100, .smallChange = 1, .largeChange = 5,
                      .tickFrequency = 1, .position = 95, .offset = 0, .fallback = 95,
                      .get = &ZV_GetOverScan,
                      .set = &ZV_SetOverScan,
                      .decrement = &ZV_DecrementOverScan,
                      .increment = &ZV_IncrementOverScan,
                      .message = "Over Scan setting Error!!"},
            // Positions have no display, so their resets read nothing back.
            SelectorRow{.name = "cmbResetPicture2",
                        .executeName = "cmdResetPicture2Exec",
                        .caption = {"Label64", "Reset"},
                        .asksReset = true,
                        .actions = {{.text = "V Position",
                                     .run = &ZV_ResetVPosition,
                                     .message = "V Position Reset Error!!"},
                                    {.text = "H Position",
                                     .run = &ZV_ResetHPosition,
                                     .message = "H Position Reset Error!!"},
                                    {.text = "H Size",
                                     .run = &ZV_ResetHSize,
                                     .message = "H Size Reset Error!!",
                                     .rereads = "lblHSize"},
                                    {.text = "OverScan",
                                     .run = &ZV_ResetOverScan,
                                     .message = "Over Scan Reset Error!!",
                                     .rereads = "sldOverScan"}}},
        }};
    // clang-format on
    return page;
}

}  // namespace Advanced
