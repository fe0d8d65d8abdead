#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <utility>

#include "Controls.h"
#include "PageEngine.h"

namespace Advanced {
namespace {

QString sliderSuffix(const char* name) {
    return QString::fromUtf8(name).mid(3);  // "sldX" -> "X"
}

// A slider whose press can be ended by the program. A refused movement shows a modal box, which
// takes the mouse: the release never reaches the slider, which would otherwise go on repeating
// its page step (or following the mouse) as if the button were still held.
class Slider : public QSlider {
public:
    using QSlider::QSlider;

    // Ends the press now and, when the press is still being handled, once more after it: a
    // press on the groove starts its repeat only after its first step has been answered.
    void endPress() {
        release();
        endAfterPress_ = pressing_;
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const QPointer<Slider> self(this);
        pressing_ = true;
        QSlider::mousePressEvent(event);
        if (self.isNull()) {
            return;
        }
        pressing_ = false;
        if (std::exchange(endAfterPress_, false)) {
            release();
        }
    }

private:
    void release() {
        setRepeatAction(SliderNoAction);
        // The release the slider never got: it forgets the pressed part (groove or handle).
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton,
                       Qt::NoButton, Qt::NoModifier);
        QSlider::mouseReleaseEvent(&up);
        setSliderDown(false);
    }

    bool pressing_ = false;
    bool endAfterPress_ = false;
};

}  // namespace

SliderControl::SliderControl(PageEngine& page, const SliderRow& row)
    : Control(page, row.caption),
      row_(row),
      decrement_(addButton(("cmdDec" + sliderSuffix(row.name)).toUtf8().constData(), "-")),
      slider_(new Slider(Qt::Horizontal, cell())),
      increment_(addButton(("cmdInc" + sliderSuffix(row.name)).toUtf8().constData(), "+")),
      lastAccepted_(row.position) {
    setObjectName(QString::fromUtf8(row.name));
    slider_->setObjectName(QString::fromUtf8(row.name));
    slider_->setRange(row.min, row.max);
    slider_->setSingleStep(row.smallChange);
    slider_->setPageStep(row.largeChange);
    slider_->setTickInterval(row.tickFrequency);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setValue(row.position);
    slider_->setToolTip(tooltipFor(row.position));
    cellLayout()->insertWidget(1, slider_, 1);

    // actionTriggered: every movement the user makes (keys, clicks, wheel, dragging), and none
    // of the program's own setValue calls.
    connect(slider_, &QSlider::actionTriggered, this, &SliderControl::moved);
    connect(slider_, &QSlider::valueChanged, this,
            [this](int position) { slider_->setToolTip(tooltipFor(position)); });
    connect(decrement_, &QPushButton::clicked, this, [this] { step(row_.decrement, row_.min); });
    connect(increment_, &QPushButton::clicked, this, [this] { step(row_.increment, row_.max); });
}

void SliderControl::read() {
    uint16_t value = 0;
    if (row_.get(&value) != 0) {
        showValue(value);
        setAvailable(true);
    } else {
        slider_->setValue(row_.fallback);
        setAvailable(false);
    }
    lastAccepted_ = slider_->value();
}

void SliderControl::moved(int /*action*/) {
    if (endingPress_) {
        return;  // the release of a refused press: its position goes back below
    }
    const int position = slider_->sliderPosition();
    if (page_.updating() || page_.suppressEvents()) {
        putBack();
        return;
    }
    if (position == slider_->value()) {
        return;  // at an end already: nothing moved
    }
    if (row_.set(position + row_.offset) != 0) {
        lastAccepted_ = position;
        return;
    }
    // One press sends at most one refused value: the press ends before the box takes the mouse.
    endingPress_ = true;
    static_cast<Slider*>(slider_)->endPress();
    endingPress_ = false;
    if (report(row_.message)) {
        putBack();
    }
}

void SliderControl::step(Define::StepFunction function, int limit) {
    if (slider_->value() == limit) {
        return;
    }
    stepAndReadBack(function, row_.get, row_.message, [this](uint16_t value) {
        showValue(value);
        lastAccepted_ = slider_->value();
    });
}

// A reported value beyond the slider's ends is shown at the nearest end, and the tooltip tells
// what the projector actually reported.
void SliderControl::showValue(int value) {
    const int position = value - row_.offset;
    const int shown = std::clamp(position, row_.min, row_.max);
    slider_->setValue(shown);
    if (position == shown) {
        slider_->setToolTip(tooltipFor(shown));
    } else {
        slider_->setToolTip(row_.tooltipInTenths ? tooltipFor(value) : QString::number(value));
    }
}

void SliderControl::putBack() {
    // Inside an action this also replaces the position the action is about to apply.
    slider_->setValue(lastAccepted_);
}

QString SliderControl::tooltipFor(int position) const {
    return row_.tooltipInTenths ? QString::number(position / 10.0) : QString();
}

void SliderControl::setAvailable(bool available) {
    slider_->setEnabled(available);
    decrement_->setEnabled(available);
    increment_->setEnabled(available);
}

}  // namespace Advanced
