// Which projector an address leads to, whatever its spelling: "tcp://127.0.0.1:2323",
// "TCP://127.000.000.001:02323", "tcp://[::ffff:127.0.0.1]:2323" and "tcp://localhost:2323"
// are one projector, and so are "serial:///dev/ttyUSB0", "serial:////dev/ttyUSB0" and a
// /dev/serial/by-id link to it. Two queues on one projector would exchange with it at once.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zolvane::fleet {

// The identities of the projector at an address the link API reads: "tcp A.B.C.D:PORT" or
// "tcp [V6]:PORT" for a network address (a host name gives one per IPv4 address it resolves
// to within the deadline, as the link connects to IPv4 only, and "tcp name:PORT" in lower case
// beside them), "serial N.N" for a character device that exists (its major and minor numbers),
// else "serial PATH" with the path normalised. Two addresses lead to one projector when their
// identities share one. Empty for an address the link API does not read.
std::vector<std::string> addressIdentities(const std::string& address);

// The same for many addresses at once: names are looked up in parallel, and all of them
// together wait at most `lookup` for the resolver (0: none is looked up).
std::vector<std::vector<std::string>> addressIdentities(const std::vector<std::string>& addresses,
                                                        std::chrono::milliseconds lookup);

}  // namespace zolvane::fleet
