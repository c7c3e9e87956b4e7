#include "search_thread.h"

#include <system_error>

namespace kp::cab::lzx {

bool SearchThread::start(Job job, void* arg) {
    job_ = job;
    arg_ = arg;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void SearchThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    posted_.notify_one();
    thread_.join();
}

void SearchThread::post() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = true;
    }
    posted_.notify_one();
}

void SearchThread::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_; });
}

bool SearchThread::busy() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

void SearchThread::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        posted_.wait(lock, [this] { return pending_ || stopping_; });
        if (pending_) {
            // The job's memory is handed over by the mutex in post() and back in wait().
            lock.unlock();
            job_(arg_);
            lock.lock();
            pending_ = false;
            done_.notify_all();
            continue;
        }
        return; // stopping, nothing pending
    }
}

} // namespace kp::cab::lzx
