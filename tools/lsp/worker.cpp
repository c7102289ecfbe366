// The thread the VBF checks run on, one job after another.
#include <algorithm>

#include "lsp/server.h"

namespace vendrak::lsp {

worker_thread::worker_thread() : thread_([this] { run(); }) {}

worker_thread::~worker_thread() { stop(); }

void worker_thread::submit(const std::string& key, std::function<void()> job) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        auto waiting = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& j) { return j.first == key; });
        if (waiting != jobs_.end())
            waiting->second = std::move(job);
        else
            jobs_.emplace_back(key, std::move(job));
    }
    wake_.notify_one();
}

void worker_thread::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void worker_thread::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front().second);
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace vendrak::lsp
