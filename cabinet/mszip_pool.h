// Worker threads that compress the open MSZIP folder's frames while the caller goes
// on feeding it. The caller's thread alone touches the client: every allocation is
// made when the pool is built, the workers only compress into the slots' buffers,
// and the caller takes the finished blocks out in the order the frames went in.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "fci_io.h"
#include "mszip_frame.h"

namespace kp::cab {

// The most threads a context takes, however many it is asked for.
constexpr unsigned kMaxThreads = 64;

struct PoolJob {
    // Written by the caller before the job is queued.
    std::uint8_t* input = nullptr;   // kFrameSize
    std::uint8_t* history = nullptr; // kFrameSize: the frame before, as the dictionary
    std::uint32_t size = 0;
    std::uint32_t historySize = 0;
    // The open folder as it stood when the frame was handed over: where a sequential
    // writer would have emitted the block, for the checks that look at the folder.
    std::uint32_t fileBytes = 0;
    std::uint32_t entryBytes = 0;
    std::uint64_t call = 0;
    // Written by the worker.
    std::uint8_t* out = nullptr; // kMszipBlockRoom
    std::uint32_t blockSize = 0;
    int rc = codecOk;
};

class MszipPool {
public:
    // `threads` workers (2 to kMaxThreads) and twice as many slots; null when memory or a
    // thread cannot be had, and then nothing of it is left.
    static MszipPool* create(unsigned threads, const ClientIo& io);
    static void destroy(MszipPool* pool);

    unsigned threads() const { return threads_; }
    unsigned inFlight() const { return count_; }
    bool full() const { return count_ == slots_; }
    // Uncompressed bytes of the jobs not yet taken out.
    std::uint64_t inFlightBytes() const { return inFlightBytes_; }

    // A folder starts: its first frame has no dictionary.
    void startFolder() { lastSize_ = 0; }
    // Queues a frame; the pool must not be full.
    void submit(const std::uint8_t* data, std::uint32_t size, std::uint32_t fileBytes,
                std::uint32_t entryBytes, std::uint64_t call);
    // The call that handed over the oldest job, known without waiting for it.
    std::uint64_t oldestCall() const { return jobs_[head_].call; }
    // The oldest job, once it is compressed; the pool must not be empty.
    const PoolJob& waitOldest();
    void popOldest();
    // Drops every job: queued ones are never started, running ones (one frame each)
    // are waited for.
    void cancel();

private:
    struct Worker {
        std::thread thread;
        z_stream zs;
        bool zsReady = false;
    };
    enum class State : std::uint8_t { Free, Queued, Busy, Done };

    MszipPool() = default;
    void run(Worker& worker);
    void stopWorkers();
    void release();

    ClientIo io_{};
    Allocator memory_{};
    unsigned threads_ = 0;
    unsigned slots_ = 0;
    Worker* workers_ = nullptr;
    PoolJob* jobs_ = nullptr;
    State* states_ = nullptr;

    // Caller's side of the ring.
    unsigned head_ = 0; // oldest job not taken out
    unsigned tail_ = 0; // next slot to fill
    unsigned count_ = 0;
    std::uint64_t inFlightBytes_ = 0;
    std::uint32_t lastSize_ = 0; // size of the frame last submitted in this folder
    unsigned lastSlot_ = 0;

    // Shared with the workers, under mutex_.
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    unsigned next_ = 0; // next queued slot a worker takes
    unsigned queued_ = 0;
    bool stopping_ = false;
};

} // namespace kp::cab
