#include "AboutForm.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "MainModule.h"

namespace {

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, QPoint at) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(at);
    label->adjustSize();
    return label;
}

}  // namespace

AboutForm::AboutForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Lumeris"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(344, 96);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QIcon(QStringLiteral(":/varnex.svg")).pixmap(32, 32));
    Image1->setGeometry(16, 8, 32, 32);
    Label1 = AddLabel(this, "Label1", QStringLiteral("Lumeris Application"), {64, 16});
    Label2 = AddLabel(this, "Label2", QStringLiteral("Ver.1.0.0.3"), {64, 40});

    cmdAboutOK = new QPushButton(QStringLiteral("OK"), this);
    cmdAboutOK->setObjectName(QStringLiteral("cmdAboutOK"));
    cmdAboutOK->setGeometry(280, 8, 49, 25);
    cmdAboutOK->setDefault(true);
    connect(cmdAboutOK, &QPushButton::clicked, this, &AboutForm::accept);

    MainModule::PositionForm(this);
}
