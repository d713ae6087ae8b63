#include "DesPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace despipe {
namespace {

// Blocks claimed at a time: small enough that both threads finish a chunk
// together, large enough that claiming costs nothing.
constexpr std::size_t kPieceBlocks = 8192;

// A worker that transforms the blocks of one chunk at a time in place, in
// pieces that the calling thread claims from the same chunk when it helps.
class Helper {
public:
    explicit Helper(const DesCipher& cipher) : cipher_(cipher), thread_([this] { Loop(); }) {}
    ~Helper()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    void Start(std::uint8_t* data, std::size_t blocks)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            data_ = data;
            blocks_ = blocks;
            next_ = finished_ = 0;
            ++generation_;
        }
        wake_.notify_all();
    }

    // Takes pieces until none is left, then waits for the worker's last one.
    void Finish()
    {
        RunPieces();
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return finished_ == blocks_; });
    }

private:
    bool Claim(std::uint8_t*& at, std::size_t& count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ == blocks_)
            return false;
        at = data_ + next_ * 8;
        count = std::min(kPieceBlocks, blocks_ - next_);
        next_ += count;
        return true;
    }

    void RunPieces()
    {
        std::uint8_t* at = nullptr;
        std::size_t count = 0;
        while (Claim(at, count)) {
            cipher_.Crypt(at, at, count);
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ += count;
            if (finished_ == blocks_)
                done_.notify_all();
        }
    }

    void Loop()
    {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_)
                    return;
                seen = generation_;
            }
            RunPieces();
        }
    }

    const DesCipher& cipher_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::uint8_t* data_ = nullptr;
    std::size_t blocks_ = 0, next_ = 0, finished_ = 0;
    std::uint64_t generation_ = 0;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything it reads is set up
};

bool RunOneCore(const DesCipher& cipher, const Read& read, const Write& write)
{
    std::vector<std::uint8_t> buffer(kChunk);
    for (;;) {
        std::size_t blocks = 0;
        if (!read(buffer.data(), blocks))
            return false;
        if (blocks == 0)
            return true;
        cipher.Crypt(buffer.data(), buffer.data(), blocks);
        if (!write(buffer.data(), blocks))
            return false;
    }
}

}  // namespace

bool Run(const DesCipher& cipher, bool twoCores, const Read& read, const Write& write)
{
    if (!twoCores)
        return RunOneCore(cipher, read, write);
    std::vector<std::uint8_t> first(kChunk), second(kChunk);
    std::unique_ptr<Helper> made;
    try {
        made = std::make_unique<Helper>(cipher);
    } catch (const std::system_error&) {
        return RunOneCore(cipher, read, write);  // no thread to be had: one core still does the work
    }
    Helper& helper = *made;
    std::uint8_t* current = first.data();
    std::uint8_t* other = second.data();
    std::size_t blocks = 0, previous = 0;
    if (!read(current, blocks))
        return false;
    while (blocks != 0) {
        helper.Start(current, blocks);
        // While the worker transforms this chunk: out with the previous one,
        // in with the next, into the same buffer.
        std::size_t next = 0;
        const bool ok = (previous == 0 || write(other, previous)) && read(other, next);
        helper.Finish();
        if (!ok)
            return false;
        previous = blocks;
        blocks = next;
        std::swap(current, other);
    }
    return previous == 0 || write(other, previous);
}

}  // namespace despipe
