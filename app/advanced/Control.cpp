#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <type_traits>

#include "Controls.h"
#include "MainModule.h"
#include "PageEngine.h"

namespace Advanced {
namespace {

constexpr int kStepButtonSize = 22;

}  // namespace

Control::Control(PageEngine& page, const Caption& caption)
    : QObject(&page), page_(page), cell_(new QWidget(page.widget())) {
    if (*caption.name != '\0') {
        caption_ = new QLabel(QString::fromUtf8(caption.text), page.widget());
        caption_->setObjectName(QString::fromUtf8(caption.name));
    }
    auto* layout = new QHBoxLayout(cell_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
}

QHBoxLayout* Control::cellLayout() const { return static_cast<QHBoxLayout*>(cell_->layout()); }

QPushButton* Control::addButton(const char* name, const QString& text) {
    auto* button = new QPushButton(text, cell_);
    button->setObjectName(QString::fromUtf8(name));
    button->setFixedSize(kStepButtonSize, kStepButtonSize);
    button->setAutoDefault(false);
    cellLayout()->addWidget(button);
    return button;
}

QLabel* Control::addLabel(const char* name) {
    auto* label = new QLabel(cell_);
    label->setObjectName(QString::fromUtf8(name));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(56);
    cellLayout()->addWidget(label);
    return label;
}

void Control::addUnit(const Caption& unit) {
    if (*unit.name == '\0') {
        return;
    }
    auto* label = new QLabel(QString::fromUtf8(unit.text), cell_);
    label->setObjectName(QString::fromUtf8(unit.name));
    cellLayout()->addWidget(label);
}

bool Control::report(const char* message) {
    const QPointer<Control> self(this);
    MainModule::ShowErrorBox(page_.window(), QString::fromUtf8(message));
    return !self.isNull();
}

void Control::stepAndReadBack(Define::StepFunction step, Define::GetFunction get,
                              const char* message, const std::function<void(uint16_t)>& show) {
    if (step() == 0) {
        report(message);
        return;
    }
    uint16_t value = 0;
    if (get(&value) != 0) {
        bool& suppress = page_.suppressEvents();
        suppress = true;
        show(value);
        suppress = false;
    }
}

Control* makeControl(PageEngine& page, const Row& row) {
    return std::visit(
        [&page](const auto& r) -> Control* {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, ListRow>) {
                return new ListControl(page, r);
            } else if constexpr (std::is_same_v<R, SliderRow>) {
                return new SliderControl(page, r);
            } else if constexpr (std::is_same_v<R, ValueLabelRow>) {
                return new ValueLabelControl(page, r);
            } else if constexpr (std::is_same_v<R, ArrowsRow>) {
                return new ArrowsControl(page, r);
            } else if constexpr (std::is_same_v<R, CheckRow>) {
                return new CheckControl(page, r);
            } else if constexpr (std::is_same_v<R, DisplayRow>) {
                return new DisplayControl(page, r);
            } else if constexpr (std::is_same_v<R, CommandRow>) {
                return new CommandControl(page, r);
            } else {
                static_assert(std::is_same_v<R, SelectorRow>);
                return new SelectorControl(page, r);
            }
        },
        row);
}

}  // namespace Advanced
