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
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
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

// Whether a control is narrower than its text, so that the user sees only part of it.
inline bool CutOff(const QWidget* control) {
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        constexpr int kFrameAndMargins = 8;
        return button->width() <
               button->fontMetrics().horizontalAdvance(button->text()) + kFrameAndMargins;
    }
    if (const auto* tabs = qobject_cast<const QTabWidget*>(control)) {
        const QTabBar* bar = tabs->tabBar();
        for (int i = 0; i < bar->count(); ++i) {
            const QRect tab = bar->tabRect(i);
            const int textWidth = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
            if (!bar->rect().contains(tab) || tab.width() < textWidth) return true;
        }
        return false;
    }
    const bool text = qobject_cast<const QLabel*>(control) != nullptr ||
                      qobject_cast<const QAbstractButton*>(control) != nullptr ||
                      qobject_cast<const QComboBox*>(control) != nullptr;
    return text && control->width() < control->sizeHint().width();
}

}  // namespace shown
