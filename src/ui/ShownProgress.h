#pragma once
// The status line and the progress bar of a batch that moves through many
// small files. Each file sets what they read, but the widgets only take it
// when the window is about to paint (PumpDue) and when the batch ends: the
// user sees the same, and a batch of 10,000 quick files no longer spends more
// time on labels and bars than on its files.

#include <QString>
#include <cstdint>

class QLabel;
class TProgressBar;

class ShownProgress {
public:
    ShownProgress(QLabel* status, TProgressBar* bar) : status_(status), bar_(bar) {}
    ShownProgress(const ShownProgress&) = delete;
    ShownProgress& operator=(const ShownProgress&) = delete;
    // Puts what is held on the widgets: a batch that ends by failure shows
    // what it reached.
    ~ShownProgress() { Show(); }

    // The status line is to read prefix + text; position is the bar's.
    void SetText(const QString& prefix, const QString& text);
    void SetPosition(std::int64_t position);
    // Called once per file, just before PumpMessages.
    void BeforePump();
    void Show();

private:
    QLabel* status_;
    TProgressBar* bar_;
    QString prefix_, text_;
    std::int64_t position_ = 0;
    bool textHeld_ = false, positionHeld_ = false;
};
