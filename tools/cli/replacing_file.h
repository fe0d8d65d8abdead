// A file that takes its name only once it is complete: written under a temporary name beside its
// final place, then renamed over whatever had the name, so that an interrupted run never leaves
// a half-written file under the name. Without commit() the temporary file is removed again.
// posix/ and win32/ each implement it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace zolvane::cli {

// what() is the system's reason, such as "Permission denied".
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ReplacingFile {
public:
    // Creates the temporary file at once, so that a folder which cannot be written shows
    // before any other work is done. FileError when it cannot be created.
    explicit ReplacingFile(std::filesystem::path file);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Writes the whole text, waits until it is on the disk and puts the file in place; call it
    // once. FileError on any failure, which leaves an older file under the name untouched.
    void commit(std::string_view text);

private:
    std::filesystem::path file_;
    std::filesystem::path temporary_;
    std::intptr_t handle_ = -1;  // a file descriptor or a Windows HANDLE; -1 for none
};

}  // namespace zolvane::cli
