#include "ProgressBar.h"

#include <algorithm>
#include <limits>

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setTextVisible(false);
    Show();
}

void TProgressBar::SetMax(std::int64_t max)
{
    max_ = max;
    Show();
}

void TProgressBar::SetPosition(std::int64_t position)
{
    position_ = position;
    Show();
}

void TProgressBar::Show()
{
    // QProgressBar repaints at once on every visible change of its value; in a
    // batch of many small files that painting costs more than the work. Hold
    // painting while the value changes: it happens at the next message pump.
    const bool painting = updatesEnabled();
    setUpdatesEnabled(false);
    ShowValue();
    if (painting)
        setUpdatesEnabled(true);  // schedules one paint
}

void TProgressBar::ShowValue()
{
    if (max_ <= 0) {
        // Qt shows a busy animation for an empty range; we want an empty bar.
        if (minimum() != 0 || maximum() != 1)
            setRange(0, 1);
        setValue(0);
        return;
    }
    int shift = 0;
    while ((max_ >> shift) > std::numeric_limits<int>::max())
        ++shift;
    const std::int64_t clamped = std::clamp<std::int64_t>(position_, 0, max_);
    const int shownMax = static_cast<int>(max_ >> shift);
    if (minimum() != 0 || maximum() != shownMax)
        setRange(0, shownMax);
    setValue(static_cast<int>(clamped >> shift));
}
