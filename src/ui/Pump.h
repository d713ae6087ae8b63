#pragma once
// Letting pending window messages run between items of a long action.
// Repainting after every one of 100,000 entries would cost more than the work
// itself, so PumpMessages runs the event loop at most about once per frame;
// the window still repaints and a stop click is still seen within a frame.

#include <functional>

void PumpMessages();
// Whether the next PumpMessages will run the event loop, so the window gets
// to paint: what a batch shows need only be put on its widgets then.
bool PumpDue();
// Runs the event loop now, whatever the time since the last run.
void PumpMessagesNow();
// Tests hook in here to act at a pump point (for example press stop after
// the n-th item); the hook runs on every call, throttled or not.
void SetPumpHook(std::function<void()> hook);
