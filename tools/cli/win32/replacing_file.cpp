#include "replacing_file.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "win32/error_text.h"

namespace zolvane::cli {
namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

[[noreturn]] void ThrowLastError() { throw FileError(ErrorText(GetLastError())); }

// Left-overs of earlier runs that were killed keep their names, so a few more are tried.
constexpr int kNameAttempts = 100;

}  // namespace

ReplacingFile::ReplacingFile(std::filesystem::path file) : file_(std::move(file)) {
    const std::filesystem::path folder = file_.has_parent_path() ? file_.parent_path() : ".";
    // The process number keeps two programs writing the same file apart.
    const std::wstring stem =
        L"." + file_.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::filesystem::path candidate = folder / (stem + std::to_wstring(attempt));
        const HANDLE handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(handle);
            temporary_ = candidate;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            throw FileError(ErrorText(error));
        }
    }
    throw FileError("no free temporary name beside it");
}

ReplacingFile::~ReplacingFile() {
    if (Handle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(Handle(handle_));
    if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
}

void ReplacingFile::commit(std::string_view text) {
    const HANDLE handle = Handle(handle_);
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
        DWORD written = 0;
        if (!WriteFile(handle, text.data(), chunk, &written, nullptr)) ThrowLastError();
        if (written == 0) throw FileError("nothing could be written");
        text.remove_prefix(written);
    }
    const bool flushed = FlushFileBuffers(handle);
    const DWORD flushError = GetLastError();
    handle_ = -1;
    if (!CloseHandle(handle)) ThrowLastError();
    if (!flushed) throw FileError(ErrorText(flushError));
    // Unlike rename() in the C library, this replaces a file that already has the name.
    if (!MoveFileExW(temporary_.c_str(), file_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowLastError();
    }
    temporary_.clear();
}

}  // namespace zolvane::cli
