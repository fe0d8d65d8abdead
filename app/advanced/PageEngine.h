// One page of the advanced window, built from its table: the controls, the one-shot poll that
// reads them, and what the controls share (the page flag, the window, SuppressEvents).
#pragma once

#include <QObject>
#include <vector>

#include "PageTable.h"

class QTimer;
class QWidget;

namespace Advanced {

class Control;

class PageEngine : public QObject {
public:
    // window owns the engine, its timer and (through the tab container) its page widget.
    explicit PageEngine(const PageTable& table, bool& suppressEvents, QWidget* window);

    QWidget* widget() const { return widget_; }
    const char* caption() const { return table_.caption; }

    // Makes the page's poll run once as soon as timer events are handled.
    void arm();
    // The window is unloading: no poll starts, and a running one ends at its next pause.
    void close();

    bool updating() const { return *table_.updating; }
    bool& suppressEvents() { return suppressEvents_; }
    QWidget* window() const { return window_; }

    // After a reset: reads one control again as the poll does, under the page flag.
    void readAgain(const char* controlName);

private:
    void poll();
    void layOut();

    const PageTable& table_;
    bool& suppressEvents_;
    QWidget* window_;
    QWidget* widget_;
    QTimer* timer_;
    std::vector<Control*> controls_;
    bool polling_ = false;
    bool closed_ = false;
};

}  // namespace Advanced
