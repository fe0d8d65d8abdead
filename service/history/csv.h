// CSV as RFC 4180 writes it, for spreadsheets: a header row, CRLF after every row, a field in
// quotes when it holds a comma, a quote, CR or LF (its quotes doubled). A field a spreadsheet
// would take for a formula is written as text.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zolvane::service::history {

class Csv {
public:
    explicit Csv(std::initializer_list<std::string_view> header) { row(header); }

    void row(std::initializer_list<std::string_view> fields);
    // The fields of a row one by one; end() closes it.
    void field(std::string_view text);
    void end();

    const std::string& text() const { return text_; }

private:
    std::string text_;
    bool first_ = true;
};

// One field as written: well-formed UTF-8 (each ill-formed sequence and each NUL as U+FFFD),
// an apostrophe before a leading = + - @ tab or CR unless the field is a plain number, quoted
// when it must be.
std::string csvField(std::string_view text);

}  // namespace zolvane::service::history
