#include "mszip_pool.h"

#include <cstring>
#include <new>
#include <system_error>

namespace kp::cab {
namespace {

constexpr std::uint32_t kSlotBytes = 2 * kFrameSize + kMszipBlockRoom;

} // namespace

MszipPool* MszipPool::create(unsigned threads, const ClientIo& io) {
    if (threads < 2 || threads > kMaxThreads) {
        return nullptr;
    }
    void* place = io.allocate(sizeof(MszipPool));
    if (!place) {
        return nullptr;
    }
    auto* pool = new (place) MszipPool;
    pool->io_ = io;
    pool->memory_ = pool->io_.codecAllocator();
    pool->threads_ = threads;
    pool->slots_ = 2 * threads;

    pool->workers_ = static_cast<Worker*>(io.allocate(sizeof(Worker) * threads));
    pool->jobs_ = static_cast<PoolJob*>(io.allocate(sizeof(PoolJob) * pool->slots_));
    pool->states_ = static_cast<State*>(io.allocate(sizeof(State) * pool->slots_));
    if (!pool->workers_ || !pool->jobs_ || !pool->states_) {
        // Only what was built is torn down: nothing is constructed yet.
        io.release(pool->workers_);
        io.release(pool->jobs_);
        io.release(pool->states_);
        pool->workers_ = nullptr;
        pool->jobs_ = nullptr;
        pool->states_ = nullptr;
        pool->threads_ = pool->slots_ = 0;
        pool->release();
        return nullptr;
    }
    for (unsigned i = 0; i < threads; ++i) {
        new (&pool->workers_[i]) Worker;
    }
    for (unsigned i = 0; i < pool->slots_; ++i) {
        new (&pool->jobs_[i]) PoolJob;
        pool->states_[i] = State::Free;
    }
    bool ready = true;
    for (unsigned i = 0; i < pool->slots_ && ready; ++i) {
        auto* bytes = static_cast<std::uint8_t*>(io.allocate(kSlotBytes));
        if (!bytes) {
            ready = false;
            break;
        }
        pool->jobs_[i].input = bytes;
        pool->jobs_[i].history = bytes + kFrameSize;
        pool->jobs_[i].out = bytes + 2 * kFrameSize;
    }
    for (unsigned i = 0; i < threads && ready; ++i) {
        Worker& w = pool->workers_[i];
        if (mszipInitStream(w.zs, &pool->memory_) != codecOk) {
            ready = false;
            break;
        }
        w.zsReady = true;
    }
    for (unsigned i = 0; i < threads && ready; ++i) {
        try {
            pool->workers_[i].thread = std::thread([pool, i] { pool->run(pool->workers_[i]); });
        } catch (const std::system_error&) {
            ready = false;
        }
    }
    if (!ready) {
        pool->release();
        return nullptr;
    }
    return pool;
}

void MszipPool::destroy(MszipPool* pool) {
    if (pool) {
        pool->release();
    }
}

void MszipPool::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (unsigned i = 0; i < threads_; ++i) {
        if (workers_[i].thread.joinable()) {
            workers_[i].thread.join();
        }
    }
}

void MszipPool::release() {
    ClientIo io = io_;
    if (workers_) {
        stopWorkers();
        for (unsigned i = 0; i < threads_; ++i) {
            if (workers_[i].zsReady) {
                deflateEnd(&workers_[i].zs);
            }
            workers_[i].~Worker();
        }
        io.release(workers_);
    }
    if (jobs_) {
        for (unsigned i = 0; i < slots_; ++i) {
            io.release(jobs_[i].input);
            jobs_[i].~PoolJob();
        }
        io.release(jobs_);
    }
    io.release(states_);
    this->~MszipPool();
    io.release(this);
}

void MszipPool::run(Worker& worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || queued_ > 0; });
        if (stopping_) {
            return;
        }
        unsigned slot = next_;
        next_ = (next_ + 1) % slots_;
        --queued_;
        states_[slot] = State::Busy;
        lock.unlock();
        PoolJob& job = jobs_[slot];
        job.rc = mszipEncodeFrame(worker.zs, job.history, job.historySize, job.input, job.size,
                                  job.out, job.blockSize);
        lock.lock();
        states_[slot] = State::Done;
        done_.notify_all();
    }
}

void MszipPool::submit(const std::uint8_t* data, std::uint32_t size, std::uint32_t fileBytes,
                       std::uint32_t entryBytes, std::uint64_t call) {
    PoolJob& job = jobs_[tail_];
    // The previous frame's slot is never this one (there are at least four), and
    // nothing has been written into it since.
    if (lastSize_) {
        std::memcpy(job.history, jobs_[lastSlot_].input, lastSize_);
    }
    job.historySize = lastSize_;
    std::memcpy(job.input, data, size);
    job.size = size;
    job.fileBytes = fileBytes;
    job.entryBytes = entryBytes;
    job.call = call;
    job.blockSize = 0;
    job.rc = codecOk;
    lastSlot_ = tail_;
    lastSize_ = size;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        states_[tail_] = State::Queued;
        ++queued_;
    }
    work_.notify_one();
    tail_ = (tail_ + 1) % slots_;
    ++count_;
    inFlightBytes_ += size;
}

const PoolJob& MszipPool::waitOldest() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return states_[head_] == State::Done; });
    return jobs_[head_];
}

void MszipPool::popOldest() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        states_[head_] = State::Free;
    }
    inFlightBytes_ -= jobs_[head_].size;
    head_ = (head_ + 1) % slots_;
    --count_;
}

void MszipPool::cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Queued jobs are the last ones submitted: taking them back leaves only running ones.
    while (queued_ > 0) {
        tail_ = (tail_ + slots_ - 1) % slots_;
        states_[tail_] = State::Free;
        inFlightBytes_ -= jobs_[tail_].size;
        --queued_;
        --count_;
    }
    next_ = tail_;
    done_.wait(lock, [this] {
        for (unsigned i = 0; i < slots_; ++i) {
            if (states_[i] == State::Busy) {
                return false;
            }
        }
        return true;
    });
    for (unsigned i = 0; i < slots_; ++i) {
        states_[i] = State::Free;
    }
    head_ = tail_;
    count_ = 0;
    inFlightBytes_ = 0;
    lastSize_ = 0;
}

} // namespace kp::cab
