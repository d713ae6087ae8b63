#pragma once
// The window's progress bar. Actions count in 64-bit values (byte counts of
// large files); the bar shows them scaled into its 32-bit range. A position
// above the maximum shows a full bar, and a maximum of 0 an empty bar.

#include <QProgressBar>
#include <cstdint>

class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget* parent = nullptr);

    void SetMax(std::int64_t max);
    void SetPosition(std::int64_t position);
    std::int64_t Max() const { return max_; }
    std::int64_t Position() const { return position_; }

private:
    void Show();
    void ShowValue();
    std::int64_t max_ = 100;
    std::int64_t position_ = 0;
};
