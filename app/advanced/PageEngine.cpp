#include "PageEngine.h"

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "Controls.h"
#include "MainModule.h"

namespace Advanced {
namespace {

constexpr int kPauseBetweenReads = 10;  // ms; lets the window stay responsive during a poll
constexpr int kRowsInOneColumn = 7;     // longer pages are laid out in two columns
constexpr int kSingleColumnWidth = 280;

}  // namespace

PageEngine::PageEngine(const PageTable& table, bool& suppressEvents, QWidget* window)
    : QObject(window),
      table_(table),
      suppressEvents_(suppressEvents),
      window_(window),
      widget_(new QWidget(window)),
      timer_(new QTimer(this)) {
    timer_->setObjectName(table.timer);
    timer_->setInterval(1);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &PageEngine::poll);

    for (const Row& row : table.rows) {
        controls_.push_back(makeControl(*this, row));
    }
    layOut();
}

void PageEngine::arm() {
    if (!closed_) {
        timer_->start();
    }
}

void PageEngine::close() {
    closed_ = true;
    timer_->stop();
}

void PageEngine::poll() {
    timer_->stop();
    // A selection made while this page's poll still runs is answered by that poll: a second one
    // nested in its pauses would lower the page flag while the first still fills the page.
    if (closed_ || polling_) {
        return;
    }
    // Kept outside the engine: the window may be destroyed during a pause, the flag must still
    // end false.
    bool* const updating = table_.updating;
    *updating = true;
    polling_ = true;
    const QPointer<PageEngine> self(this);
    bool first = true;
    for (Control* control : controls_) {
        if (!control->reads()) {
            continue;
        }
        if (!first) {
            MainModule::Delay(kPauseBetweenReads);
            if (self.isNull() || self->closed_) {
                break;
            }
        }
        first = false;
        control->read();
    }
    *updating = false;
    if (!self.isNull()) {
        polling_ = false;
    }
}

void PageEngine::readAgain(const char* controlName) {
    for (Control* control : controls_) {
        if (control->objectName() == QLatin1String(controlName)) {
            // Restores rather than clears: a reset may run while the page's poll pauses.
            const bool wasUpdating = *table_.updating;
            *table_.updating = true;
            control->read();
            *table_.updating = wasUpdating;
            return;
        }
    }
}

void PageEngine::layOut() {
    auto* grid = new QGridLayout(widget_);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);

    const int count = static_cast<int>(controls_.size());
    const int columns = count > kRowsInOneColumn ? 2 : 1;
    const int perColumn = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        const int row = i % perColumn;
        const int column = (i / perColumn) * 3;  // caption, control, gap
        if (QLabel* caption = controls_[i]->caption()) {
            grid->addWidget(caption, row, column);
        }
        grid->addWidget(controls_[i]->cell(), row, column + 1);
    }
    if (columns == 1) {
        // A short page keeps its controls at a readable width instead of across the window.
        grid->setColumnMinimumWidth(1, kSingleColumnWidth);
        grid->setColumnStretch(2, 1);
    } else {
        grid->setColumnStretch(1, 1);
        grid->setColumnStretch(4, 1);
        grid->setColumnMinimumWidth(2, 6);
    }
    grid->setRowStretch(perColumn, 1);
}

}  // namespace Advanced
