#include "ShownProgress.h"

#include "ProgressBar.h"
#include "Pump.h"

#include <QLabel>

void ShownProgress::SetText(const QString& prefix, const QString& text)
{
    prefix_ = prefix;
    text_ = text;
    textHeld_ = true;
}

void ShownProgress::SetPosition(std::int64_t position)
{
    position_ = position;
    positionHeld_ = true;
}

void ShownProgress::BeforePump()
{
    if (PumpDue())
        Show();
}

void ShownProgress::Show()
{
    if (textHeld_)
        status_->setText(prefix_ + text_);
    if (positionHeld_)
        bar_->SetPosition(position_);
    textHeld_ = positionHeld_ = false;
}
