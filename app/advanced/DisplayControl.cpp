#include <QHBoxLayout>
#include <QLabel>

#include "Controls.h"

namespace Advanced {

DisplayControl::DisplayControl(PageEngine& page, const DisplayRow& row)
    : Control(page, row.caption), row_(row), label_(addLabel(row.name)) {
    setObjectName(QString::fromUtf8(row.name));
    if (!row.texts.empty()) {
        label_->setMinimumWidth(110);
    }
    addUnit(row.unit);
    cellLayout()->addStretch(1);
}

// A value without a text leaves the display as it was: it is a state the window cannot name.
void DisplayControl::read() {
    uint16_t value = 0;
    if (row_.get(&value) == 0) {
        label_->clear();
        return;
    }
    if (row_.texts.empty()) {
        label_->setText(QString::number(value));
        return;
    }
    for (const Item& item : row_.texts) {
        if (item.value == value) {
            label_->setText(QString::fromUtf8(item.text));
            return;
        }
    }
}

}  // namespace Advanced
