// WinSock for the network link: version 1.1 is all the link asks of it. The library keeps at most
// one reference, so a host program's own WSAStartup/WSACleanup pairs are never unbalanced by ours.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>

#include "links.h"

namespace zolvane {
namespace {

// Guarded by the library lock, like the connection it belongs to.
bool gStarted = false;

}  // namespace

bool StartSocketLayer() {
    if (gStarted) return true;
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    gStarted = true;
    return true;
}

void StopSocketLayer() {
    if (!gStarted) return;
    ::WSACleanup();
    gStarted = false;
}

bool AcquireSocketLayer() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void ReleaseSocketLayer() { ::WSACleanup(); }

}  // namespace zolvane

// A library unloaded while its program goes on gives its reference back. At process exit the
// system tears WinSock down itself, and the threads it would need may already be gone.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) zolvane::StopSocketLayer();
    return TRUE;
}
