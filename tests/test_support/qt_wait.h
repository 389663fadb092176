// Waiting in the Qt tests: the event loop runs while the test waits for something to happen.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace tessaro {

// Runs the event loop until `done` holds or `ms` milliseconds have passed; returns `done()`.
template <class Done>
bool WaitFor(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return done();
}

// Runs the event loop for `ms` milliseconds.
inline void Spin(int ms) {
    WaitFor([] { return false; }, ms);
}

}  // namespace tessaro
