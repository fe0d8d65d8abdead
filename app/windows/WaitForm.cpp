#include "WaitForm.h"

#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "MainModule.h"
#include "windows/MainForm.h"

using namespace MainModule;

namespace {

QPointer<WaitForm> theWaitForm;

constexpr int kGiveUpAfterMs = 60000;

}  // namespace

WaitForm::WaitForm()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("WaitForm"));
    setWindowTitle(kAppTitle);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(175, 38);
    createLabel();
    createTimeOut();
    PositionForm(this);
}

void WaitForm::createLabel() {
    Label1 = new QLabel(QStringLiteral("Please wait ..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont font = Label1->font();
    font.setPointSize(12);
    font.setBold(true);
    Label1->setFont(font);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(rect());
}

void WaitForm::createTimeOut() {
    ShowWaitFormTimer = new QTimer(this);
    ShowWaitFormTimer->setObjectName(QStringLiteral("ShowWaitFormTimer"));
    ShowWaitFormTimer->setSingleShot(true);
    ShowWaitFormTimer->setInterval(kGiveUpAfterMs);
    connect(ShowWaitFormTimer, &QTimer::timeout, this, &WaitForm::giveUp);
    ShowWaitFormTimer->start();
}

void WaitForm::showWaiting() {
    if (theWaitForm.isNull()) theWaitForm = new WaitForm();
    theWaitForm->show();
    theWaitForm->raise();
    theWaitForm->activateWindow();
}

void WaitForm::dismiss() {
    if (!theWaitForm.isNull()) theWaitForm->close();
}

WaitForm* WaitForm::current() { return theWaitForm; }

// The window system's close box or keys arrive as spontaneous events; the program's own
// close() (and the one that ends the program) does not.
void WaitForm::closeEvent(QCloseEvent* event) {
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void WaitForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

// The projector never reported its power state: the user gets the main window back rather than
// a window that stays disabled with nothing left to wait for.
void WaitForm::giveUp() {
    // Closed only after the message: closing destroys the window, and with it this timer.
    hide();
    PowerOnWaiting = false;
    MainForm* main = MainForm::instance();
    main->setEnabled(true);
    QMessageBox box(QMessageBox::Information, kAppTitle, QStringLiteral("Communication Error!!"),
                    QMessageBox::Ok, main);
    box.exec();
    close();
}
