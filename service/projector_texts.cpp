#include "projector_texts.h"

#include "json_text.h"
#include "projector_json.h"

namespace zolvane::service {

ProjectorTexts::ProjectorTexts(const fleet::Fleet& fleet) : fleet_(fleet) {}

std::shared_ptr<ProjectorTexts::Slot> ProjectorTexts::slot(const std::string& name) {
    std::lock_guard lock(slotsMutex_);
    std::shared_ptr<Slot>& slot = slots_[name];
    if (!slot) slot = std::make_shared<Slot>();
    return slot;
}

void ProjectorTexts::forget(const fleet::Changes& changes) {
    {
        std::lock_guard lock(slotsMutex_);
        for (const auto* names : {&changes.removed, &changes.changed}) {
            for (const std::string& name : *names) slots_.erase(name);
        }
    }
    std::lock_guard lock(listMutex_);
    ++changes_;
}

std::string ProjectorTexts::text(const fleet::ProjectorQueue& queue,
                                 const fleet::ProjectorState& state) {
    const std::shared_ptr<Slot> held = slot(queue.entry().name);
    Slot& slot = *held;
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
