// Timers: never shown; carries the main status poll's timer.
#pragma once

#include <QObject>

class QTimer;

class Timers : public QObject {
    Q_OBJECT
public:
    static Timers& instance();

    QTimer* StatusCheckTimer;  // interval 5000 ms, designed switched off

private:
    struct StateQuery;
    static const StateQuery kQueries[];

    Timers();
    void pollStatus();
    void query(const StateQuery& row);
    void endPowerOnWait();
};
