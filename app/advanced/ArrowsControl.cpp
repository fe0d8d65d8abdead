#include <QHBoxLayout>
#include <QPushButton>

#include "ArrowIcon.h"
#include "Controls.h"

namespace Advanced {

ArrowsControl::ArrowsControl(PageEngine& page, const ArrowsRow& row)
    : Control(page, row.caption),
      row_(row),
      decrement_(addButton(row.decrementName, QString())),
      increment_(addButton(row.incrementName, QString())) {
    setObjectName(QString::fromUtf8(row.decrementName));
    for (auto [button, arrow] :
         {std::pair{decrement_, row.decrementArrow}, std::pair{increment_, row.incrementArrow}}) {
        const QPixmap picture = arrowPicture(arrow);
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.size());
    }
    cellLayout()->addStretch(1);
    connect(decrement_, &QPushButton::clicked, this, [this] { step(row_.decrement); });
    connect(increment_, &QPushButton::clicked, this, [this] { step(row_.increment); });
}

// The value is never shown; a failed read only says that the buttons would be refused.
void ArrowsControl::read() {
    uint16_t value = 0;
    const bool available = row_.get(&value) != 0;
    decrement_->setEnabled(available);
    increment_->setEnabled(available);
}

void ArrowsControl::step(Define::StepFunction function) {
    if (function() == 0) {
        report(row_.message);
    }
}

}  // namespace Advanced
