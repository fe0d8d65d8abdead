// A host-name lookup that gives up at a deadline. The platform's resolver blocks for as long as
// its name servers keep it waiting, so it runs on a helper thread; a caller that gives up leaves
// the thread to finish on its own with state of its own.
#pragma once

#include <cstdint>
#include <string>

#include "deadline.h"

namespace zolvane {

// The platform's own blocking lookup: the first IPv4 address of the name, in network byte
// order. May be called on a helper thread.
using HostResolver = bool (*)(const std::string& host, uint32_t& address);

// True with the address when the name resolved before the deadline.
bool LookUpHost(const char* host, const Deadline& deadline, HostResolver resolve,
                uint32_t& address);

// Keeps the library's code mapped for good: a lookup thread left running must not find its
// code unloaded under it.
void KeepLibraryLoaded();

}  // namespace zolvane
