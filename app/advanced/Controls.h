// The control kinds a page is built from. Each kind turns one row of a page table into widgets
// and carries the behaviour that every row of its kind shares.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "PageTable.h"

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;

namespace Advanced {

class PageEngine;

class Control : public QObject {
public:
    explicit Control(PageEngine& page, const Caption& caption);

    QLabel* caption() const { return caption_; }
    QWidget* cell() const { return cell_; }

    // Whether the page poll reads this control, and the read itself: show the setting or make
    // the control unavailable, then take what it shows as the last accepted value.
    virtual bool reads() const { return false; }
    virtual void read() {}

protected:
    QHBoxLayout* cellLayout() const;
    QPushButton* addButton(const char* name, const QString& text);
    QLabel* addLabel(const char* name);
    void addUnit(const Caption& unit);
    // Shows the error box; false when the window went away while it was open.
    bool report(const char* message);
    // A step button: sends the step; a refusal shows message; an accepted step reads the
    // setting back and, when that read succeeds, hands the value to show with SuppressEvents
    // raised. A failed read-back leaves the display as it was, without a message.
    void stepAndReadBack(Define::StepFunction step, Define::GetFunction get, const char* message,
                         const std::function<void(uint16_t)>& show);

    PageEngine& page_;

private:
    QLabel* caption_ = nullptr;
    QWidget* cell_;
};

class ListControl : public Control {
public:
    explicit ListControl(PageEngine& page, const ListRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    void choose(int index);
    void showIndex(int index);
    void setAvailable(bool available);

    const ListRow& row_;
    QComboBox* box_;
    int lastAccepted_ = -1;
};

class SliderControl : public Control {
public:
    explicit SliderControl(PageEngine& page, const SliderRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    void moved(int action);
    void step(Define::StepFunction function, int limit);
    void showValue(int value);
    void putBack();
    QString tooltipFor(int position) const;
    void setAvailable(bool available);

    const SliderRow& row_;
    QPushButton* decrement_;
    QSlider* slider_;
    QPushButton* increment_;
    int lastAccepted_;
    bool endingPress_ = false;
};

class ValueLabelControl : public Control {
public:
    explicit ValueLabelControl(PageEngine& page, const ValueLabelRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    int shown() const;
    void step(Define::StepFunction function, std::optional<int> limit);
    void setAvailable(bool available);

    const ValueLabelRow& row_;
    QPushButton* decrement_;
    QLabel* label_;
    QPushButton* increment_;
};

class ArrowsControl : public Control {
public:
    explicit ArrowsControl(PageEngine& page, const ArrowsRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    void step(Define::StepFunction function);

    const ArrowsRow& row_;
    QPushButton* decrement_;
    QPushButton* increment_;
};

class CheckControl : public Control {
public:
    explicit CheckControl(PageEngine& page, const CheckRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    void clicked();
    void send(int state, bool sendAgainOnRefusal);
    void showState(int state);

    const CheckRow& row_;
    QCheckBox* box_;
    int lastAccepted_ = kUnknown;

    static constexpr int kUnknown = 2;
};

class DisplayControl : public Control {
public:
    explicit DisplayControl(PageEngine& page, const DisplayRow& row);
    bool reads() const override { return true; }
    void read() override;

private:
    const DisplayRow& row_;
    QLabel* label_;
};

class CommandControl : public Control {
public:
    explicit CommandControl(PageEngine& page, const CommandRow& row);

private:
    void run();

    const CommandRow& row_;
};

class SelectorControl : public Control {
public:
    explicit SelectorControl(PageEngine& page, const SelectorRow& row);

private:
    void execute();

    const SelectorRow& row_;
    QComboBox* selector_;
};

// Builds the control of one row; the page owns it.
Control* makeControl(PageEngine& page, const Row& row);

}  // namespace Advanced
