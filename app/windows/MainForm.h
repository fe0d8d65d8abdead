// The main window: a narrow strip holding one toolbar of image buttons, and the program's
// notification-area icon with its pop-up menu. Closing the window only hides it, unless the
// program is ending (or no notification area exists to bring it back from).
#pragma once

#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdint>

class QAction;
class QMenu;
class QToolBar;
class ToolbarButton;

class MainForm : public QWidget {
    Q_OBJECT
public:
    // Created hidden at the first use; lives until the program ends.
    static MainForm* instance();
    ~MainForm() override;

    void buildToolbar();
    void refreshToolbar();
    // The looks of single buttons from the last known states, for the status poll.
    void refreshPowerButton();
    void refreshInputButtons();
    void refreshBlankButton();
    void refreshMuteButton();

    void addTrayIcon();
    void removeTrayIcon();

    // The toolbar button of that key, or nullptr when it is not shown.
    ToolbarButton* button(const QString& key) const;

    QToolBar* Toolbar1 = nullptr;
    QMenu* mnuPopup = nullptr;
    QAction* menuShowHide = nullptr;
    QAction* menuExit = nullptr;
    QAction* menuCancel = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;
    bool ExitRequested = false;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct ToolbarRow;
    static const ToolbarRow kToolbarRows[];

    MainForm();
    void createToolBar();
    void createPopupMenu();
    void createTrayIcon();
    void clearToolbar();

    void configurationClicked(const ToolbarRow& row);
    void powerClicked(const ToolbarRow& row);
    void inputClicked(const ToolbarRow& row);
    void blankClicked(const ToolbarRow& row);
    void muteClicked(const ToolbarRow& row);
    void advancedClicked(const ToolbarRow& row);
    void aboutClicked(const ToolbarRow& row);
    // Blank and mute: switch between 0 and 1; an unknown state sends nothing.
    void toggle(int16_t& state, int32_t (*send)(int32_t), const char* onError,
                const char* offError);

    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void prepareTrayMenu();
    void bringToFront();
    void showHideChosen();
    void exitChosen();
    void endProgram();

    bool ending_ = false;
};
