// The line zolvane --json prints for one projector, from any bytes its command printed and
// said: always one line that parses back as the object a pipeline expects, with the name and
// address as given wherever they are valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "../../tools/cli/json_line.h"
#include "zolvane_fleet/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // name NUL address NUL out NUL err; the first byte picks the exit status.
    if (size == 0) return 0;
    const int status = data[0] % 6;
    std::string parts[4];
    std::size_t part = 0;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0 && part < 3) {
            ++part;
        } else {
            parts[part] += static_cast<char>(data[i]);
        }
    }
    const std::string line = zolvane::cli::JsonLine(parts[0], parts[1], status, parts[2], parts[3]);
    if (line.find('\n') != std::string::npos) std::abort();
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object() || object.size() != 6 || object["status"] != status) std::abort();
    if (!object["reason"].is_string()) std::abort();
    for (const char* key : {"name", "address"}) {
        const std::string& given = parts[key[0] == 'n' ? 0 : 1];
        if (zolvane::fleet::validUtf8(given) && object[key] != given) std::abort();
    }
    return 0;
}
