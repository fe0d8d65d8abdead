#include <QCheckBox>
#include <QHBoxLayout>

#include "Controls.h"
#include "PageEngine.h"

namespace Advanced {

CheckControl::CheckControl(PageEngine& page, const CheckRow& row)
    : Control(page, row.caption),
      row_(row),
      box_(new QCheckBox(QString::fromUtf8(row.text), cell())) {
    setObjectName(QString::fromUtf8(row.name));
    box_->setObjectName(QString::fromUtf8(row.name));
    cellLayout()->addWidget(box_);
    showState(kUnknown);
    // clicked: the user's clicks only, never the program's own changes.
    connect(box_, &QCheckBox::clicked, this, &CheckControl::clicked);
}

void CheckControl::read() {
    uint16_t value = 0;
    if (row_.get(&value) != 0) {
        if (value == 0 || value == 1) {
            showState(value);
            box_->setEnabled(true);
        }
    } else {
        showState(kUnknown);
        box_->setEnabled(false);
    }
    lastAccepted_ =
        box_->checkState() == Qt::PartiallyChecked ? kUnknown : (box_->isChecked() ? 1 : 0);
}

void CheckControl::clicked() {
    if (page_.updating()) {
        showState(lastAccepted_);
        return;
    }
    send(box_->isChecked() ? 1 : 0, true);
}

// A refused click puts the box back, and putting it back counts as a click of its own: the
// restored state is sent once more, so the projector is told the state the box shows again.
void CheckControl::send(int state, bool sendAgainOnRefusal) {
    if (row_.set(state) != 0) {
        lastAccepted_ = state;
        showState(state);
        return;
    }
    if (!report(row_.message)) {
        return;
    }
    showState(lastAccepted_);
    if (sendAgainOnRefusal && lastAccepted_ != state && lastAccepted_ != kUnknown) {
        send(lastAccepted_, false);
    }
}

void CheckControl::showState(int state) {
    const bool unknown = state == kUnknown;
    box_->setTristate(unknown);
    box_->setCheckState(unknown ? Qt::PartiallyChecked
                                : (state == 1 ? Qt::Checked : Qt::Unchecked));
}

}  // namespace Advanced
