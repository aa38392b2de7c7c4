#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into an orderly end of the event loop, so that a stopped server
// still logs its stop and lets its handler threads finish their requests.
class StopSignal : public QObject
{
    Q_OBJECT

public:
    explicit StopSignal(QObject *parent = nullptr);

private:
    void quitEventLoop();

    QSocketNotifier *notifier;
};
