#include "history/csv.h"

#include "zolvane_fleet/text.h"

namespace zolvane::service::history {
namespace {

// "-12", "3.25", "-0.5": what a spreadsheet reads as a number and nothing else.
bool plainNumber(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const auto digits = [](std::string_view part) {
        if (part.empty()) return false;
        for (const char c : part) {
            if (c < '0' || c > '9') return false;
        }
        return true;
    };
    if (point == std::string_view::npos) return digits(text);
    return digits(text.substr(0, point)) && digits(text.substr(point + 1));
}

// Spreadsheets run a cell that starts with one of these as a formula; tab and CR are on the
// list because some strip them first and look at what follows.
bool formulaStart(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

}  // namespace

std::string csvField(std::string_view raw) {
    std::string text = fleet::validUtf8Copy(raw);
    for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) {
        text.replace(at, 1, "\xEF\xBF\xBD");
    }
    if (!text.empty() && formulaStart(text.front()) && !plainNumber(text)) text.insert(0, "'");
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void Csv::field(std::string_view text) {
    if (!first_) text_ += ',';
    first_ = false;
    text_ += csvField(text);
}

void Csv::end() {
    text_ += "\r\n";
    first_ = true;
}

void Csv::row(std::initializer_list<std::string_view> fields) {
    for (const std::string_view text : fields) field(text);
    end();
}

}  // namespace zolvane::service::history
