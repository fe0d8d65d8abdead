#include "DetailsForm.h"

#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "MainModule.h"
#include "PageEngine.h"
#include "Pages.h"
#include "windows/Timers.h"

namespace {

constexpr int kMainPollRestart = 10;  // ms: the main window reads the projector right after

}  // namespace

DetailsForm::DetailsForm(QWidget* owner)
    : QDialog(owner), SSTab1(new QTabWidget(this)), cmdClose(new QPushButton(this)) {
    setObjectName(QStringLiteral("DetailsForm"));
    setWindowTitle(QStringLiteral("Advanced Control"));
    setFixedSize(530, 368);

    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->setGeometry(0, 0, 529, 337);
    // All eight captions have to fit side by side on the 529-pixel container.
    SSTab1->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 9px; }"));
    SSTab1->tabBar()->setUsesScrollButtons(false);
    for (const Advanced::PageTable* table : Advanced::allPages()) {
        auto* page = new Advanced::PageEngine(*table, SuppressEvents, this);
        SSTab1->addTab(page->widget(), QString::fromUtf8(page->caption()));
        pages_.push_back(page);
    }

    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setText(QStringLiteral("Close"));
    cmdClose->setGeometry(456, 340, 65, 25);
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &DetailsForm::reject);

    load();
    connect(SSTab1, &QTabWidget::currentChanged, this, &DetailsForm::selectPage);
}

DetailsForm::~DetailsForm() {
    // Also when destroyed without being closed: the main poll must never stay switched off.
    unload();
}

// The reset and Slotkeep selectors start on their first item as they are built.
void DetailsForm::load() {
    MainModule::PositionForm(this);
    SSTab1->setCurrentIndex(0);
    pages_.front()->arm();
    SuppressEvents = false;
}

// Only the selected page is read; polls already running on other pages go on.
void DetailsForm::selectPage(int index) {
    if (index >= 0 && index < static_cast<int>(pages_.size())) {
        pages_[index]->arm();
    }
}

void DetailsForm::done(int result) {
    unload();
    QDialog::done(result);
}

void DetailsForm::unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    for (Advanced::PageEngine* page : pages_) {
        page->close();
    }
    MainModule::StatusPollBusy = false;
    QTimer* mainPoll = Timers::instance().StatusCheckTimer;
    mainPoll->setInterval(kMainPollRestart);
    mainPoll->start();
}
