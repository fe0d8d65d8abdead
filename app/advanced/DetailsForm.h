// The "Advanced Control" window: eight pages of projector settings, each read once when it is
// selected, every change sent at once.
#pragma once

#include <QDialog>
#include <vector>

class QPushButton;
class QTabWidget;

namespace Advanced {
class PageEngine;
}

class DetailsForm : public QDialog {
    Q_OBJECT
public:
    // Places itself over the main window and arms the SETUP page's poll. Shown modally by the
    // main window, which pauses its own status poll first.
    explicit DetailsForm(QWidget* owner = nullptr);
    ~DetailsForm() override;

    // "Close", the close box and Escape all end here.
    void done(int result) override;

private:
    void load();
    void selectPage(int index);
    void unload();

    QTabWidget* SSTab1;
    QPushButton* cmdClose;
    std::vector<Advanced::PageEngine*> pages_;
    // True while the window sets a control itself in answer to a user action.
    bool SuppressEvents = false;
    bool unloaded_ = false;
};
