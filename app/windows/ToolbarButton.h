// A toolbar button whose pressed look shows the projector's state: only the program presses or
// releases it, a click never does.
#pragma once

#include <QToolButton>

class ToolbarButton : public QToolButton {
    Q_OBJECT
public:
    // key names the button (object name), its image and its first tooltip.
    ToolbarButton(const QString& key, QWidget* parent = nullptr);

    void setPressed(bool pressed) { setChecked(pressed); }
    bool isPressed() const { return isChecked(); }

protected:
    void nextCheckState() override;
};
