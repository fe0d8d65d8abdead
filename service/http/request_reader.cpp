#include "request_reader.h"

#include <algorithm>

namespace zolvane::service::http {
namespace {

constexpr std::size_t kChunkLineBytes = 1024;

bool tokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return tokenChar(static_cast<unsigned char>(c));
    });
}

std::string lower(std::string_view text) {
    std::string low(text);
    for (char& c : low) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return low;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

RequestReader::RequestReader(Limits limits) : limits_(limits) {}

void RequestReader::reset() { *this = RequestReader(limits_); }

void RequestReader::fault(int status, std::string reason) {
    if (phase_ == Phase::Fault) return;
    phase_ = Phase::Fault;
    status_ = status;
    reason_ = std::move(reason);
}

std::size_t RequestReader::feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && (phase_ == Phase::Head || phase_ == Phase::Body)) {
        if (phase_ == Phase::Body) {
            const std::string_view rest = bytes.substr(used);
            if (chunked_) {
                used += feedChunked(rest);
                continue;
            }
            const std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>(length_ - body_.size(), rest.size()));
            body_.append(rest.substr(0, take));
            used += take;
            if (body_.size() == length_) done();
            continue;
        }
        const char c = bytes[used++];
        started_ = true;
        if (++headBytes_ > limits_.headBytes) {
            fault(431, "the request's head is larger than the service takes");
            break;
        }
        if (c != '\n') {
            line_ += c;
            continue;
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        std::string line = std::move(line_);
        line_.clear();
        if (line.empty()) {
            if (!method_.empty()) endOfHead();
            continue;  // blank lines before the request line are allowed
        }
        if (++headLines_ > limits_.headLines + 1) {
            fault(431, "the request has more header lines than the service takes");
            break;
        }
        headLine(line);
    }
    return used;
}

void RequestReader::headLine(std::string_view line) {
    if (method_.empty()) {
        const std::size_t first = line.find(' ');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second == std::string_view::npos ||
            line.find(' ', second + 1) != std::string_view::npos) {
            return fault(400, "the request line is not METHOD TARGET VERSION");
        }
        const std::string_view method = line.substr(0, first);
        const std::string_view target = line.substr(first + 1, second - first - 1);
        const std::string_view version = line.substr(second + 1);
        if (!token(method)) return fault(400, "the request's method is not a word");
        const bool printableTarget =
            !target.empty() && std::all_of(target.begin(), target.end(), [](char c) {
                return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F;
            });
        if (!printableTarget || (target.front() != '/' && target != "*")) {
            return fault(400, "the request's target is not a path of printable characters");
        }
        if (version != "HTTP/1.1" && version != "HTTP/1.0") {
            return fault(version.starts_with("HTTP/") ? 505 : 400,
                         "the service speaks HTTP/1.0 and HTTP/1.1 only");
        }
        method_ = method;
        target_ = target;
        version_ = version;
        return;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        return fault(400, "a header line continues the one before it");
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return fault(400, "a header line without a colon");
    const std::string_view name = line.substr(0, colon);
    if (!token(name)) return fault(400, "a header's name is not a word");
    const std::string_view value = trimmed(line.substr(colon + 1));
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            return fault(400, "a header holds a control character");
        }
    }
    const std::string key = lower(name);
    if (key == "content-length") {
        const bool digits =
            !value.empty() && value.size() <= 18 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits) return fault(400, "Content-Length is not a number");
        const std::uint64_t length = std::stoull(std::string(value));
        if (contentLength_ && length != length_) {
            return fault(400, "two different Content-Length headers");
        }
        contentLength_ = true;
        length_ = length;
        return;
    }
    if (key == "transfer-encoding") {
        if (lower(value) != "chunked" || chunked_) {
            return fault(501, "Transfer-Encoding \"" + std::string(value) +
                                  "\" is not supported: chunked only");
        }
        chunked_ = true;
        return;
    }
    if (key == "expect") {
        if (lower(value) != "100-continue") return fault(417, "only \"100-continue\" is expected");
        expectsContinue_ = true;
        return;
    }
    headers_.append(name).append(": ").append(value).append("\r\n");
}

void RequestReader::endOfHead() {
    if (chunked_ && contentLength_) {
        return fault(400, "both Content-Length and Transfer-Encoding");
    }
    if (contentLength_ && length_ > limits_.bodyBytes) {
        return fault(413, "the body is larger than the service takes");
    }
    if (chunked_ || length_ > 0) {
        phase_ = Phase::Body;
        return;
    }
    done();
}

std::size_t RequestReader::feedChunked(std::string_view bytes) {
    if (chunk_ == Chunk::Data) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunkLeft_, bytes.size()));
        body_.append(bytes.substr(0, take));
        chunkLeft_ -= take;
        if (chunkLeft_ == 0) chunk_ = Chunk::DataEnd;
        return take;
    }
    const char c = bytes.front();
    if (chunk_ == Chunk::Trailer && ++headBytes_ > limits_.headBytes) {
        fault(431, "the request's head is larger than the service takes");
        return 1;
    }
    if (c != '\n') {
        line_ += c;
        if (chunk_ != Chunk::Trailer && line_.size() > kChunkLineBytes) {
            fault(400, "a chunk's size line is too long");
        }
        return 1;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    const std::string line = std::move(line_);
    line_.clear();
    switch (chunk_) {
        case Chunk::Size:
            line_ = line;
            chunkSizeLine();
            break;
        case Chunk::DataEnd:
            if (!line.empty()) {
                fault(400, "a chunk does not end where its size says");
            } else {
                chunk_ = Chunk::Size;
            }
            break;
        case Chunk::Trailer:
            if (line.empty()) {
                done();
            } else if (++headLines_ > limits_.headLines + 1) {
                fault(431, "the request has more header lines than the service takes");
            }
            break;
        case Chunk::Data:
            break;
    }
    return 1;
}

void RequestReader::chunkSizeLine() {
    const std::string line = std::move(line_);
    line_.clear();
    std::uint64_t size = 0;
    std::size_t at = 0;
    for (; at < line.size() && hexDigit(line[at]) >= 0; ++at) {
        if (at >= 15) return fault(413, "the body is larger than the service takes");
        size = size * 16 + static_cast<std::uint64_t>(hexDigit(line[at]));
    }
    const std::string_view rest = trimmed(std::string_view(line).substr(at));
    if (at == 0 || (!rest.empty() && rest.front() != ';')) {
        return fault(400, "a chunk's size is not a hexadecimal number");
    }
    if (size > limits_.bodyBytes - body_.size()) {
        return fault(413, "the body is larger than the service takes");
    }
    if (size == 0) {
        chunk_ = Chunk::Trailer;
        return;
    }
    chunk_ = Chunk::Data;
    chunkLeft_ = size;
}

void RequestReader::done() {
    phase_ = Phase::Done;
    request_.reserve(method_.size() + target_.size() + headers_.size() + body_.size() + 64);
    request_.append(method_).append(" ").append(target_).append(" ").append(version_);
    request_.append("\r\n").append(headers_);
    if (contentLength_ || chunked_) {
        request_.append("Content-Length: ").append(std::to_string(body_.size())).append("\r\n");
    }
    request_.append("\r\n").append(body_);
    body_.clear();
    body_.shrink_to_fit();
    headers_.clear();
}

}  // namespace zolvane::service::http
