#include "projector_texts.h"

#include "json_text.h"
#include "projector_json.h"

namespace zolvane::service {

ProjectorTexts::ProjectorTexts(const fleet::Fleet& fleet)
    : fleet_(fleet), slots_(fleet.projectors().size()) {
    for (std::size_t i = 0; i < fleet.projectors().size(); ++i) {
        index_.emplace(fleet.projectors()[i].get(), i);
    }
}

std::string ProjectorTexts::text(const fleet::ProjectorQueue& queue,
                                 const fleet::ProjectorState& state) {
    Slot& slot = slots_[index_.at(&queue)];
    std::lock_guard lock(slot.mutex);
    // Only ever forward: a watcher's older state arriving late does not replace a newer text.
    const bool newer = !slot.made || state.version > slot.version ||
                       (state.version == slot.version &&
                        (state.lastSeen > slot.lastSeen || state.failedPolls != slot.failedPolls));
    if (newer) {
        if (slot.made && state.version > slot.version) {
            std::lock_guard listLock(listMutex_);
            ++changes_;
        }
        slot.text = jsonText(projectorJson(queue.entry(), state));
        slot.made = true;
        slot.version = state.version;
        slot.lastSeen = state.lastSeen;
        slot.failedPolls = state.failedPolls;
    } else if (state.version < slot.version || state.lastSeen < slot.lastSeen) {
        return jsonText(projectorJson(queue.entry(), state));
    }
    return slot.text;
}

std::string ProjectorTexts::list() {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(listMutex_);
        if (!list_.empty() && listChanges_ == changes_ && now - listMade_ < kListAge) return list_;
    }
    std::uint64_t changes = 0;
    {
        std::lock_guard lock(listMutex_);
        changes = changes_;
    }
    std::string body = "[";
    for (const auto& queue : fleet_.projectors()) {
        if (body.size() > 1) body += ',';
        body += text(*queue);
    }
    body += ']';
    std::lock_guard lock(listMutex_);
    // Changes made while the list was being put together are not certain to be in it: such a
    // list is answered but not kept.
    if (changes == changes_) {
        list_ = body;
        listChanges_ = changes;
        listMade_ = now;
    }
    return body;
}

}  // namespace zolvane::service
