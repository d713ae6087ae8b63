#include "WorkerPool.h"

#include <algorithm>
#include <memory>
#include <unistd.h>

namespace zippool {

Pool& Pool::Instance()
{
    static std::mutex guard;
    static Pool* pool = nullptr;
    std::lock_guard<std::mutex> lock(guard);
    if (!pool || pool->pid_ != ::getpid())
        pool = new Pool();  // lives as long as the process; its threads never end
    return *pool;
}

Pool::Pool() : pid_(::getpid())
{
    size_ = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (std::size_t i = 0; i < size_; ++i)
        std::thread([this] { Loop(); }).detach();
}

std::future<void> Pool::Submit(std::function<void()> task)
{
    auto packaged = std::make_shared<std::packaged_task<void()>>(std::move(task));
    std::future<void> done = packaged->get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back([packaged] { (*packaged)(); });
    }
    wake_.notify_one();
    return done;
}

void Pool::Loop()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !tasks_.empty(); });
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace zippool
