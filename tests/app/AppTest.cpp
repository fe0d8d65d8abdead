#include "AppTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>

#include "MainModule.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"
#include "windows/ToolbarButton.h"

namespace apptest {

void Projector::connectProgram() {
    MainModule::ConnectionType = 2;
    MainModule::TcpAddress = QStringLiteral("127.0.0.1");
    MainModule::TcpPortNo = QString::number(emulator_.tcpPort());
    MainModule::ApplyConnection();
}

QStringList Projector::sent() const {
    QStringList texts;
    for (const auto& frame : emulator_.frames()) {
        const QString type = QString::number(frame.type, 16);
        texts << (frame.action == 2 ? QStringLiteral("get %1").arg(type)
                                    : QStringLiteral("set %1 %2").arg(type).arg(frame.value));
    }
    return texts;
}

void ResetProgram() {
    Timers::instance().StatusCheckTimer->stop();
    QList<QPointer<QWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->parentWidget() == nullptr) windows << widget;
    }
    qDeleteAll(windows);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    using namespace MainModule;
    ConnectionType = 0;
    for (bool* shown : {&ShowConfigurationButton, &ShowPowerButton, &ShowM1DButton, &ShowRGBButton,
                        &ShowBNCButton, &ShowComponentButton, &ShowSVideoButton, &ShowVideoButton,
                        &ShowBlankButton, &ShowMuteButton, &ShowAdvancedButton, &ShowHelpButton}) {
        *shown = true;
    }
    PowerState = InputState = BlankState = MuteState = 0;
    PowerOnWaiting = StatusPollBusy = false;
}

int RunUntilEnd(const std::function<void()>& action) {
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    limit.start(10000);
    QTimer::singleShot(0, action);
    return QCoreApplication::exec();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
}

QString PressedButtons() {
    QStringList pressed;
    for (const char* key : {"Configuration", "Power", "M1-D", "RGB", "BNC", "Component", "S-Video",
                            "Video", "Blank", "Mute", "Advanced", "About"}) {
        const ToolbarButton* button = MainForm::instance()->button(QString::fromLatin1(key));
        if (button != nullptr && button->isPressed()) pressed << key;
    }
    return pressed.join(QLatin1Char(' '));
}

QStringList SwitchTooltips() {
    QStringList tips;
    for (const char* key : {"Power", "Blank", "Mute"}) {
        const ToolbarButton* button = MainForm::instance()->button(QString::fromLatin1(key));
        tips << (button != nullptr ? button->toolTip() : QString());
    }
    return tips;
}

ModalHand::ModalHand() {
    connect(&timer_, &QTimer::timeout, this, &ModalHand::look);
    timer_.start(10);
}

void ModalHand::look() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || handled_.contains(modal)) return;
    handled_.removeAll(nullptr);
    handled_ << modal;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
        if (onOtherModal) onOtherModal(modal);
        return;
    }
    seen << BoxSeen{box->windowTitle(), box->text(), box->icon()};
    box->button(QMessageBox::Ok)->click();
}

}  // namespace apptest
