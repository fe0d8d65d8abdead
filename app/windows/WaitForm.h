// "Please wait ...": shown while the projector powers up after a power-on from the toolbar,
// with the main window disabled. The status poll closes it when the projector next reports its
// power state; after a minute without such an answer it gives up by itself.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

class WaitForm : public QDialog {
    Q_OBJECT
public:
    // Creates, places and shows the window without waiting for it; at most one exists.
    static void showWaiting();
    // Closes it, if it is open.
    static void dismiss();
    // The open window, or nullptr.
    static WaitForm* current();

    QLabel* Label1 = nullptr;
    QTimer* ShowWaitFormTimer = nullptr;

protected:
    // Only the program closes it: closed by the user, it would leave the main window disabled
    // with nothing left to enable it but the projector's next answer.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    WaitForm();
    void createLabel();
    void createTimeOut();
    void giveUp();
};
