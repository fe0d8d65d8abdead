// The "Configuration" dialog: how to reach the projector and which optional toolbar buttons to
// show. Shown at every start-up before the main window, and from the main window's toolbar.
// Every opening starts from the shared state; only OK stores anything.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

class ConfigForm : public QDialog {
    Q_OBJECT
public:
    // Without an owner at start-up (shown, not waited for); owned by the main window later.
    // Destroyed when closed.
    explicit ConfigForm(QWidget* owner = nullptr);
    ~ConfigForm() override;

    // The open dialog, or nullptr.
    static ConfigForm* current();

    // Whichever way the dialog closes, the status poll runs 10 ms later.
    void done(int result) override;

    QTabWidget* SSTab1 = nullptr;
    QRadioButton* optSerial = nullptr;
    QComboBox* cmbSerial = nullptr;
    QRadioButton* optTCP = nullptr;
    QLabel* lblIPAddress = nullptr;
    QLineEdit* txtIPAddress = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtPortNo = nullptr;
    QCheckBox* chkPower = nullptr;
    QCheckBox* chkM1D = nullptr;
    QCheckBox* chkRGB = nullptr;
    QCheckBox* chkBNC = nullptr;
    QCheckBox* chkComponent = nullptr;
    QCheckBox* chkSVideo = nullptr;
    QCheckBox* chkVideo = nullptr;
    QCheckBox* chkBlank = nullptr;
    QCheckBox* chkMute = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

private:
    struct ShowBox;
    static const ShowBox kShowBoxes[];

    void createTabs();
    void createConnectionPage();
    void createButtonsPage();
    void createButtons();
    void showSettings();
    void selectPort(const QString& name);

    void chooseSerial();
    void chooseTcp();
    void confirm();
    void cancel();
};
