// "About Lumeris": the program's name and version, closed with its OK button.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class AboutForm : public QDialog {
    Q_OBJECT
public:
    // Places itself over the main window; destroyed when closed.
    explicit AboutForm(QWidget* owner = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* cmdAboutOK = nullptr;
};
