// One HTTP/1.1 request read from the bytes of a connection as they come, bounded in size: the
// head in bytes and lines, the body (however framed) in max_body_bytes. A complete request is
// rebuilt in one plain form, its body framed by Content-Length alone, for the server to answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zolvane::service::http {

struct Limits {
    std::size_t headBytes = 16384;  // request line, header lines and chunked trailers
    std::size_t headLines = 100;
    std::size_t bodyBytes = 65536;  // after chunked framing is taken off
};

class RequestReader {
public:
    explicit RequestReader(Limits limits = {});

    enum class Phase { Head, Body, Done, Fault };

    // Takes the bytes that came; returns how many of them this request took (the rest belongs
    // to the next request). Takes nothing once Done or Fault.
    std::size_t feed(std::string_view bytes);

    Phase phase() const { return phase_; }
    bool started() const { return started_; }
    // The head is read, it asked for "100 Continue" and its body has not come yet.
    bool wantsContinue() const { return phase_ == Phase::Body && expectsContinue_; }

    // Fault: the status to answer (400, 413, 431, 501) and why.
    int status() const { return status_; }
    const std::string& reason() const { return reason_; }

    // Done: the request rebuilt, and its method and target exactly as sent.
    const std::string& request() const { return request_; }
    const std::string& method() const { return method_; }
    const std::string& target() const { return target_; }

    // For the next request on the connection.
    void reset();

private:
    enum class Chunk { Size, Data, DataEnd, Trailer };

    void fault(int status, std::string reason);
    void headLine(std::string_view line);
    void endOfHead();
    void startBody();
    std::size_t feedChunked(std::string_view bytes);
    void chunkSizeLine();
    void done();

    Limits limits_;
    Phase phase_ = Phase::Head;
    bool started_ = false;
    int status_ = 0;
    std::string reason_;

    std::string line_;  // the line being read, of the head or a chunk's size or trailer
    std::size_t headBytes_ = 0;
    std::size_t headLines_ = 0;
    std::string method_;
    std::string target_;
    std::string version_;
    std::string headers_;  // kept lines, each "Name: value\r\n"
    bool contentLength_ = false;
    std::uint64_t length_ = 0;
    bool chunked_ = false;
    bool expectsContinue_ = false;

    std::string body_;
    Chunk chunk_ = Chunk::Size;
    std::uint64_t chunkLeft_ = 0;
    std::string request_;
};

}  // namespace zolvane::service::http
