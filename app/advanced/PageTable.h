// The vocabulary of the advanced window's pages. A page is an ordered list of rows; its poll reads
// the rows that show a setting in that order, and the page lays them out in that order too.
#pragma once

#include <Qt>
#include <optional>
#include <variant>
#include <vector>

#include "Define.h"

namespace Advanced {

// A fixed text beside a control. An empty name means the row has none.
struct Caption {
    const char* name = "";
    const char* text = "";
};

// One entry of a value table: what is shown and the setting value it stands for.
struct Item {
    const char* text;
    int value;
    // Another reported value that is shown as this item too.
    std::optional<int> alsoShows = std::nullopt;
};

// A drop-down list whose selected index maps to a setting value and back.
struct ListRow {
    const char* name;
    Caption caption;
    std::vector<Item> items;
    Define::GetFunction get;
    Define::SetFunction set;
    const char* message;
    // Mirrors a main-window control, so it keeps out of the way while the main poll runs.
    bool mirrorsMainWindow = false;
};

// A slider "sldX" with its step buttons "cmdDecX" and "cmdIncX".
struct SliderRow {
    const char* name;
    Caption caption;
    int min;
    int max;
    int smallChange;
    int largeChange;
    int tickFrequency;
    int position;  // before the first read
    int offset;    // setting value = position + offset
    int fallback;  // position while the setting cannot be read
    Define::GetFunction get;
    Define::SetFunction set;
    Define::StepFunction decrement;
    Define::StepFunction increment;
    const char* message;
    // The slider stands for a gamma such as 2.2, so its tooltip shows position / 10.
    bool tooltipInTenths = false;
};

// A number "lblX" that only the projector changes, through the step buttons "cmdDecX", "cmdIncX".
struct ValueLabelRow {
    const char* name;
    Caption caption;
    Caption unit = {};
    Define::GetFunction get;
    Define::StepFunction decrement;
    Define::StepFunction increment;
    const char* message;
    int lowest;                  // "-" does nothing while the label shows this number
    std::optional<int> highest;  // "+" does nothing while the label shows this number
};

// Step buttons with arrow pictures and no display: the read only tells whether they may be used.
struct ArrowsRow {
    Caption caption = {};
    const char* decrementName;
    Qt::ArrowType decrementArrow;
    const char* incrementName;
    Qt::ArrowType incrementArrow;
    Define::GetFunction get;
    Define::StepFunction decrement;
    Define::StepFunction increment;
    const char* message;
};

// A check box: unchecked 0, checked 1, greyed while no value is known.
struct CheckRow {
    const char* name;
    Caption caption = {};
    const char* text;
    Define::GetFunction get;
    Define::SetFunction set;
    const char* message;
};

// A read-only display: the number itself, or with texts the text of the value.
struct DisplayRow {
    const char* name;
    Caption caption;
    Caption unit = {};
    Define::GetFunction get;
    std::vector<Item> texts = {};
};

// A button that runs one command at once.
struct CommandRow {
    const char* name;
    Caption caption;
    const char* text;
    Define::StepFunction run;
    const char* message;
};

// One entry of a selector with an "Execute" button: a command without argument, or a set with a
// fixed value; after success the named control is read again.
struct Action {
    const char* text;
    Define::StepFunction run = nullptr;
    Define::SetFunction send = nullptr;
    int value = 0;
    const char* message = "";
    const char* rereads = "";
};

struct SelectorRow {
    const char* name;
    const char* executeName;
    Caption caption;
    // Resets ask "<item> Reset OK?" first.
    bool asksReset;
    std::vector<Action> actions;
};

using Row = std::variant<ListRow, SliderRow, ValueLabelRow, ArrowsRow, CheckRow, DisplayRow,
                         CommandRow, SelectorRow>;

struct PageTable {
    const char* caption;
    const char* timer;
    bool* updating;  // the page's flag in MainModule
    std::vector<Row> rows;
};

}  // namespace Advanced
