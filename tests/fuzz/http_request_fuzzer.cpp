// Request bytes of any shape, cut into pieces of any size, as the service's gate reads them from
// a connection. Whatever comes, the reader stays within its bounds, a request it completes is
// within them too, and the same bytes give the same outcome however they were cut.
//
// Input: one byte that sets where the pieces are cut (the bytes are fed in pieces of 1 to 16
// bytes following its bits), then the bytes of the connection.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http/request_reader.h"

namespace {

using zolvane::service::http::Limits;
using zolvane::service::http::RequestReader;

constexpr Limits kLimits{512, 16, 1024};

struct Outcome {
    RequestReader::Phase phase;
    int status;
    std::size_t used;
    std::string request;
};

Outcome readAll(std::string_view bytes, unsigned cut) {
    RequestReader reader(kLimits);
    std::size_t used = 0;
    unsigned piece = 0;
    while (used < bytes.size()) {
        const std::size_t size = cut == 0 ? bytes.size() : 1 + ((cut >> (piece++ % 4)) & 15);
        const std::string_view next = bytes.substr(used, size);
        const std::size_t took = reader.feed(next);
        if (took > next.size()) std::abort();
        used += took;
        if (took < next.size()) break;  // the rest is the next request's
    }
    return {reader.phase(), reader.status(), used,
            reader.phase() == RequestReader::Phase::Done ? reader.request() : std::string()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome whole = readAll(bytes, 0);
    const Outcome pieces = readAll(bytes, data[0] | 1u);
    if (whole.phase != pieces.phase || whole.status != pieces.status ||
        whole.request != pieces.request) {
        std::abort();
    }
    if (whole.phase == RequestReader::Phase::Done) {
        if (whole.used != pieces.used) std::abort();
        // The rebuilt head is no longer than the one read, the body within its bound.
        if (whole.request.size() > kLimits.headBytes + kLimits.bodyBytes + 128) std::abort();
        if (whole.request.find("\r\n\r\n") == std::string::npos) std::abort();
    }
    if (whole.phase == RequestReader::Phase::Fault) {
        switch (whole.status) {
            case 400:
            case 413:
            case 417:
            case 431:
            case 501:
            case 505:
                break;
            default:
                std::abort();
        }
    }
    return 0;
}
