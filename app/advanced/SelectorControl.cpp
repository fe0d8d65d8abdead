#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>

#include "Controls.h"
#include "MainModule.h"
#include "PageEngine.h"

namespace Advanced {
namespace {

constexpr int kExecuteWidth = 65;

}  // namespace

SelectorControl::SelectorControl(PageEngine& page, const SelectorRow& row)
    : Control(page, row.caption), row_(row), selector_(new QComboBox(cell())) {
    setObjectName(QString::fromUtf8(row.name));
    selector_->setObjectName(QString::fromUtf8(row.name));
    for (const Action& action : row.actions) {
        selector_->addItem(QString::fromUtf8(action.text));
    }
    selector_->setCurrentIndex(0);
    auto* execute = new QPushButton(QStringLiteral("Execute"), cell());
    execute->setObjectName(QString::fromUtf8(row.executeName));
    execute->setAutoDefault(false);
    execute->setFixedWidth(kExecuteWidth);
    cellLayout()->addWidget(selector_, 1);
    cellLayout()->addWidget(execute);
    connect(execute, &QPushButton::clicked, this, &SelectorControl::execute);
}

void SelectorControl::execute() {
    const int index = selector_->currentIndex();
    if (index < 0 || index >= static_cast<int>(row_.actions.size())) {
        return;
    }
    const Action& action = row_.actions[index];
    if (row_.asksReset) {
        const QPointer<SelectorControl> self(this);
        const bool confirmed = MainModule::AskConfirmation(
            page_.window(), selector_->itemText(index) + QStringLiteral(" Reset OK?"));
        if (self.isNull() || !confirmed) {
            return;
        }
    }
    const int32_t result = action.run != nullptr ? action.run() : action.send(action.value);
    if (result == 0) {
        report(action.message);
        return;
    }
    if (*action.rereads != '\0') {
        page_.readAgain(action.rereads);
    }
}

}  // namespace Advanced
