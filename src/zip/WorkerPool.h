#pragma once
// A few worker threads shared by every archive of the process: compression
// chunks and extraction writes run on them while the calling thread keeps
// reading, writing the archive and reporting progress in order.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace zippool {

class Pool {
public:
    // The pool of this process. A child made by fork has none of the parent's
    // threads, so it gets a pool of its own (the parent's is left untouched,
    // as its lock may have been held at the fork).
    static Pool& Instance();
    std::size_t Size() const { return size_; }

    // Runs task on a worker; the future holds its exception, if any.
    std::future<void> Submit(std::function<void()> task);

private:
    Pool();
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::size_t size_ = 0;
    pid_t pid_ = 0;
};

}  // namespace zippool
