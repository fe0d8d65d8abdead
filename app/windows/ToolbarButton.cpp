#include "ToolbarButton.h"

#include <QIcon>

ToolbarButton::ToolbarButton(const QString& key, QWidget* parent) : QToolButton(parent) {
    setObjectName(key);
    setCheckable(true);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(24, 24));
    setIcon(QIcon(QStringLiteral(":/toolbar/%1.svg").arg(key)));
    setToolTip(key);
    setAccessibleName(key);
}

// The click still emits clicked(); the projector's answer decides the look.
void ToolbarButton::nextCheckState() {}
