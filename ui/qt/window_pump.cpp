#include "ui/qt/window_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "engine/session.h"

void WindowPump(int maxWaitMs) {
    if (maxWaitMs <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(maxWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
}

ScopedWindowPump::ScopedWindowPump() {
    VARKO_SetPumpHook(&WindowPump);
}

ScopedWindowPump::~ScopedWindowPump() {
    VARKO_SetPumpHook(nullptr);
}
