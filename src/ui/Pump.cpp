#include "Pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
std::function<void()>& Hook()
{
    static std::function<void()> hook;
    return hook;
}

QElapsedTimer& LastPump()
{
    static QElapsedTimer timer;
    return timer;
}

constexpr qint64 kFrameMs = 15;
}  // namespace

void SetPumpHook(std::function<void()> hook)
{
    Hook() = std::move(hook);
}

void PumpMessagesNow()
{
    if (Hook())
        Hook()();
    QCoreApplication::processEvents();
    LastPump().start();
}

bool PumpDue()
{
    return !LastPump().isValid() || LastPump().elapsed() >= kFrameMs;
}

void PumpMessages()
{
    if (PumpDue()) {
        PumpMessagesNow();
        return;
    }
    if (Hook())
        Hook()();
}
