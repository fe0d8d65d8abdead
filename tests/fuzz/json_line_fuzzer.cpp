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
    // The exit status, then name NUL address NUL out NUL err.
    if (size == 0) return 0;
    std::string parts[4];
    std::size_t part = 0;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0 && part < 3)
            ++part;
        else
            parts[part] += static_cast<char>(data[i]);
    }
    const int status = data[0] % 6;
    const std::string line = zolvane::cli::JsonLine(parts[0], parts[1], status, parts[2], parts[3]);
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (line.find('\n') != std::string::npos || !object.is_object() || object.size() != 6 ||
        object["status"] != status || !object["reason"].is_string())
        std::abort();
    for (int i : {0, 1}) {
        const char* key = i == 0 ? "name" : "address";
        if (zolvane::fleet::validUtf8(parts[i]) && object[key] != parts[i]) std::abort();
    }
    return 0;
}
