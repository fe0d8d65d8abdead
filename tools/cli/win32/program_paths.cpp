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

std::filesystem::path UserSettingsFolder() {
    // The wide form keeps user names outside the system's code page intact.
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData != nullptr && *appData != L'\0') {
        return appData;
    }
    return {};
}

}  // namespace zolvane::cli
