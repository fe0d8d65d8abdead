#include "program_paths.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace zolvane::cli {

std::filesystem::path ProgramFolder() {
    // Paths may be longer than MAX_PATH; the call says so by filling the whole buffer.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring name(size, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), size);
        if (length == 0) return {};
        if (length < size) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
    }
    return {};
}

bool FolderWritable(const std::filesystem::path& folder) {
    // The read-only attribute says nothing about a folder, and the access lists are hard to
    // judge from outside, so a file is created there and goes again when its handle closes.
    const std::wstring stem = L".zolvane-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::filesystem::path probe = folder / (stem + std::to_wstring(attempt));
        const HANDLE handle =
            CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

std::filesystem::path UserSettingsFolder() {
    // The wide form keeps user names outside the system's code page intact.
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData != nullptr && *appData != L'\0') {
        return appData;
    }
    return {};
}

}  // namespace zolvane::cli
