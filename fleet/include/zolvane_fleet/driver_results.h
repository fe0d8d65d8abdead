// Results a projector's driver may end an exchange with beyond the library's ZV_RESULT_ codes:
// what PJLink answers mean. Every front end words them from one table (service/projector_json's
// result words, the command line's exit statuses).
#pragma once

#include "zolvane_link.h"

namespace zolvane::fleet {

inline constexpr zv_result kUnsupported = 0xE0000002u;  // ERR1: the projector has no such command
inline constexpr zv_result kUnavailable = 0xE0000003u;  // ERR3: not now (warming, cooling, standby)
inline constexpr zv_result kProjectorFailure = 0xE0000004u;  // ERR4: the projector reports a fault
inline constexpr zv_result kAuthFailed = 0xE0000005u;  // ERRA, or no password file to answer with
inline constexpr zv_result kBadAnswer = 0xE0000006u;   // an answer that is not the protocol's

}  // namespace zolvane::fleet
