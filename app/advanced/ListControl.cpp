#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QPalette>

#include "Controls.h"
#include "MainModule.h"
#include "PageEngine.h"

namespace Advanced {

ListControl::ListControl(PageEngine& page, const ListRow& row)
    : Control(page, row.caption), row_(row), box_(new QComboBox(cell())) {
    setObjectName(QString::fromUtf8(row.name));
    box_->setObjectName(QString::fromUtf8(row.name));
    for (const Item& item : row.items) {
        box_->addItem(QString::fromUtf8(item.text));
    }
    // Nothing is shown until the projector has told us something.
    box_->setCurrentIndex(-1);
    cellLayout()->addWidget(box_);
    // activated: the user's choices only, never the program's own selections.
    connect(box_, &QComboBox::activated, this, &ListControl::choose);
}

void ListControl::read() {
    uint16_t value = 0;
    if (row_.get(&value) != 0) {
        for (int index = 0; index < static_cast<int>(row_.items.size()); ++index) {
            const Item& item = row_.items[index];
            if (item.value == value || item.alsoShows == value) {
                showIndex(index);
                setAvailable(true);
                break;
            }
        }
    } else {
        showIndex(-1);
        setAvailable(false);
    }
    lastAccepted_ = box_->currentIndex();
}

void ListControl::choose(int index) {
    const bool ignored = page_.updating() || page_.suppressEvents() ||
                         (row_.mirrorsMainWindow && MainModule::StatusPollBusy);
    if (ignored) {
        // Nothing was sent, so the choice must not stay on screen as if it had been.
        showIndex(lastAccepted_);
        return;
    }
    const bool known = index >= 0 && index < static_cast<int>(row_.items.size());
    if (known && row_.set(row_.items[index].value) != 0) {
        lastAccepted_ = index;
        return;
    }
    if (report(row_.message)) {
        showIndex(lastAccepted_);
    }
}

void ListControl::showIndex(int index) {
    bool& suppress = page_.suppressEvents();
    const bool wasSuppressed = suppress;
    suppress = true;
    box_->setCurrentIndex(index);
    suppress = wasSuppressed;
}

// Available: the window background; unavailable: the button face. Styles paint a list that
// cannot be edited as a button, from the Button role, and an editable one from Base, so both
// roles carry the colour, in every colour group (an unavailable list is drawn disabled).
void ListControl::setAvailable(bool available) {
    box_->setEnabled(available);
    QPalette palette = box_->palette();
    const QPalette& system = QApplication::palette();
    const QColor background =
        system.color(QPalette::Active, available ? QPalette::Base : QPalette::Button);
    for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Button}) {
        palette.setColor(role, background);
    }
    box_->setPalette(palette);
}

}  // namespace Advanced
