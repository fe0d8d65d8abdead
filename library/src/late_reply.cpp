#include "late_reply.h"

#include <map>
#include <mutex>

namespace zolvane {
namespace {

long long NowMs() {
    return std::chrono::duration_cast<Milliseconds>(Clock::now().time_since_epoch()).count();
}

struct Marks {
    std::mutex lock;
    std::map<std::string, long long> windowEnd;  // steady-clock milliseconds
};

Marks& ProcessMarks() {
    static Marks marks;
    return marks;
}

}  // namespace

void NoteUnansweredExchange(const std::string& key) {
    const long long end = NowMs() + kLateReplyWindow.count();
    {
        Marks& marks = ProcessMarks();
        std::lock_guard guard(marks.lock);
        marks.windowEnd[key] = end;
    }
    StoreSharedWindowEnd(key, end);
}

Milliseconds LateReplyWindowLeft(const std::string& key) {
    long long end = SharedWindowEnd(key);
    if (end != 0 && (end <= NowMs() || end > NowMs() + kLateReplyWindow.count())) {
        ForgetSharedWindow(key);
        end = 0;
    }
    {
        Marks& marks = ProcessMarks();
        std::lock_guard guard(marks.lock);
        const auto found = marks.windowEnd.find(key);
        if (found != marks.windowEnd.end()) {
            end = std::max(end, found->second);
            // An expired mark is of no more use.
            if (found->second <= NowMs()) marks.windowEnd.erase(found);
        }
    }
    // A shared record from another boot that claims more than a window is not believed.
    const long long left = std::clamp<long long>(end - NowMs(), 0, kLateReplyWindow.count());
    return Milliseconds(left);
}

}  // namespace zolvane
