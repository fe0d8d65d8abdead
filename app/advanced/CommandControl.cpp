#include <QHBoxLayout>
#include <QPushButton>

#include "Controls.h"

namespace Advanced {
namespace {

constexpr int kExecuteWidth = 65;

}  // namespace

CommandControl::CommandControl(PageEngine& page, const CommandRow& row)
    : Control(page, row.caption), row_(row) {
    setObjectName(QString::fromUtf8(row.name));
    auto* button = new QPushButton(QString::fromUtf8(row.text), cell());
    button->setObjectName(QString::fromUtf8(row.name));
    button->setAutoDefault(false);
    button->setFixedWidth(kExecuteWidth);
    cellLayout()->addWidget(button);
    cellLayout()->addStretch(1);
    connect(button, &QPushButton::clicked, this, &CommandControl::run);
}

void CommandControl::run() {
    if (row_.run() == 0) {
        report(row_.message);
    }
}

}  // namespace Advanced
