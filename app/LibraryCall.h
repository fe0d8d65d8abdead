// Runs one library call so that the window stays alive while the projector takes its time: the
// call runs on a worker thread and the user-interface thread waits in a local event loop that
// keeps painting. What a blocked thread would have handled only after the call - clicks and keys
// on the program's windows, the program's own timers - is held back and handled right after
// it, in its original order, so the sequence of calls and the guarding flags stay as they were.
// The notification-area icon and its menu keep answering; ending the program from there during
// a call ends it at once, without waiting for the call; so does closing a window whose closing
// ends the program.
#pragma once

#include <cstdint>
#include <functional>

class QWidget;

namespace Define {

int32_t RunLibraryCall(const std::function<int32_t()>& call);

// Tells which window's closing ends the program (asked as the close arrives).
void SetClosingEndsProgram(std::function<bool(const QWidget*)> endsProgram);

}  // namespace Define
