#include "Harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "Define.h"
#include "advanced/DetailsForm.h"
#include "advanced/Pages.h"

namespace harness {
namespace {

constexpr int kPollTimeoutMs = 20000;  // a poll of the longest page takes well under a second
constexpr int kLookIntervalMs = 20;

QString hex(std::uint16_t type) { return QString::number(type, 16).toUpper(); }

}  // namespace

bool& pageFlag(int page) { return *Advanced::allPages().at(page)->updating; }

QString get(std::uint16_t type) { return "get " + hex(type); }
QString set(std::uint16_t type, std::uint16_t value) {
    return "set " + hex(type) + " " + QString::number(value);
}
QString inc(std::uint16_t type) { return "inc " + hex(type); }
QString dec(std::uint16_t type) { return "dec " + hex(type); }
QString exec(std::uint16_t type) { return "exec " + hex(type); }

Projector::Projector() {
    started_ = emulator_.start();
    const QByteArray port = QByteArray::number(emulator_.tcpPort());
    Define::ZV_SetConnection(2, "127.0.0.1", port.constData());
}

Projector::~Projector() { emulator_.stop(); }

QStringList Projector::sent() const {
    QStringList texts;
    for (const auto& frame : emulator_.frames()) {
        switch (frame.action) {
            case 1:
                texts << set(frame.type, frame.value);
                break;
            case 2:
                texts << get(frame.type);
                break;
            case 4:
                texts << inc(frame.type);
                break;
            case 5:
                texts << dec(frame.type);
                break;
            case 6:
                texts << exec(frame.type);
                break;
            default:
                texts << QStringLiteral("action %1 %2").arg(frame.action).arg(hex(frame.type));
        }
    }
    return texts;
}

std::unique_ptr<DetailsForm> openWindow() {
    auto form = std::make_unique<DetailsForm>();
    form->show();
    pollIsOver(*form, kSetup);
    return form;
}

bool pollIsOver(DetailsForm& form, int page) {
    const Advanced::PageTable& table = *Advanced::allPages().at(page);
    auto* timer = form.findChild<QTimer*>(QString::fromUtf8(table.timer));
    if (timer == nullptr) {
        return false;
    }
    return QTest::qWaitFor([&] { return !timer->isActive() && !*table.updating; }, kPollTimeoutMs);
}

bool showPage(DetailsForm& form, int page) {
    auto* tabs = form.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    if (tabs == nullptr) {
        return false;
    }
    if (tabs->currentIndex() == page) {
        const int other = page == kAuto ? kSetup : kAuto;
        tabs->setCurrentIndex(other);
        if (!pollIsOver(form, other)) {
            return false;
        }
    }
    tabs->setCurrentIndex(page);
    return pollIsOver(form, page);
}

PageSuite::~PageSuite() = default;

DetailsForm& PageSuite::window() {
    if (!window_) {
        window_ = openWindow();
    }
    return *window_;
}

void PageSuite::closeWindow() { window_.reset(); }

void choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

BoxAnswerer::BoxAnswerer(QList<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    QTimer::singleShot(kLookIntervalMs, this, &BoxAnswerer::look);
}

void BoxAnswerer::look() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        seen.append({box->windowTitle(), box->text(), box->icon()});
        if (whileShown) {
            whileShown();
        }
        const QMessageBox::StandardButton answer =
            answers_.isEmpty() ? QMessageBox::Ok : answers_.takeFirst();
        if (QAbstractButton* button = box->button(answer)) {
            button->click();
        } else {
            box->done(answer);
        }
    }
    QTimer::singleShot(kLookIntervalMs, this, &BoxAnswerer::look);
}

}  // namespace harness
