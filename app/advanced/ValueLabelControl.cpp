#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "Controls.h"
#include "PageEngine.h"

namespace Advanced {
namespace {

QByteArray buttonName(const char* prefix, const char* labelName) {
    return QByteArray(prefix) + QByteArray(labelName).mid(3);  // "lblX" -> prefix + "X"
}

}  // namespace

ValueLabelControl::ValueLabelControl(PageEngine& page, const ValueLabelRow& row)
    : Control(page, row.caption),
      row_(row),
      decrement_(addButton(buttonName("cmdDec", row.name).constData(), "-")),
      label_(addLabel(row.name)),
      increment_(addButton(buttonName("cmdInc", row.name).constData(), "+")) {
    setObjectName(QString::fromUtf8(row.name));
    addUnit(row.unit);
    cellLayout()->addStretch(1);
    connect(decrement_, &QPushButton::clicked, this, [this] { step(row_.decrement, row_.lowest); });
    connect(increment_, &QPushButton::clicked, this,
            [this] { step(row_.increment, row_.highest); });
}

void ValueLabelControl::read() {
    uint16_t value = 0;
    if (row_.get(&value) != 0) {
        label_->setText(QString::number(value));
        setAvailable(true);
    } else {
        label_->clear();
        setAvailable(false);
    }
}

// The label is the only record of the setting, so it is also the last accepted value; an empty
// one counts as 0.
int ValueLabelControl::shown() const { return label_->text().toInt(); }

// The limits are equality tests: the projector decides the step and the range.
void ValueLabelControl::step(Define::StepFunction function, std::optional<int> limit) {
    if (limit == shown()) {
        return;
    }
    stepAndReadBack(function, row_.get, row_.message,
                    [this](uint16_t value) { label_->setText(QString::number(value)); });
}

void ValueLabelControl::setAvailable(bool available) {
    decrement_->setEnabled(available);
    increment_->setEnabled(available);
}

}  // namespace Advanced
