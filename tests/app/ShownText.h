// What a control shows the user, as one text: a window its title, a button, label or text box
// its text (a label with a picture instead "picture 32x32"), a list, tab container or menu its
// entries in order, joined by "|".
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStringList>
#include <QTabWidget>

namespace shown {

inline QString Text(const QObject* object) {
    QStringList entries;
    if (const auto* list = qobject_cast<const QComboBox*>(object)) {
        for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    } else if (const auto* tabs = qobject_cast<const QTabWidget*>(object)) {
        for (int i = 0; i < tabs->count(); ++i) entries << tabs->tabText(i);
    } else if (const auto* menu = qobject_cast<const QMenu*>(object)) {
        for (const QAction* entry : menu->actions()) {
            if (!entry->isSeparator()) entries << entry->text();
        }
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(object)) {
        return button->text();
    } else if (const auto* label = qobject_cast<const QLabel*>(object)) {
        const QPixmap picture = label->pixmap();
        if (label->text().isEmpty() && !picture.isNull()) {
            return QStringLiteral("picture %1x%2").arg(picture.width()).arg(picture.height());
        }
        return label->text();
    } else if (const auto* box = qobject_cast<const QLineEdit*>(object)) {
        return box->text();
    } else if (const auto* widget = qobject_cast<const QWidget*>(object)) {
        return widget->windowTitle();
    } else {
        return QStringLiteral("(nothing shown)");
    }
    return entries.join(QLatin1Char('|'));
}

}  // namespace shown
