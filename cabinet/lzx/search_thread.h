// A second thread for one encoder: it runs the match finder over frames that have
// come in while the encoder's own thread parses and writes the chunk before them.
// The finder's tree is built in position order whichever thread runs it, so the
// matches, and the stream, are the same as on one thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kp::cab::lzx {

class SearchThread {
public:
    using Job = void (*)(void* arg);

    // False when no thread can be had; the object is then unused.
    bool start(Job job, void* arg);
    // Waits for the job in progress, then ends the thread.
    void stop();

    // Runs the job once on the thread. Everything the job touches belongs to the
    // thread until wait() returns; the caller must not post while busy().
    void post();
    void wait();
    bool busy();

private:
    void run();

    Job job_ = nullptr;
    void* arg_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable done_;
    bool pending_ = false;
    bool stopping_ = false;
};

} // namespace kp::cab::lzx
