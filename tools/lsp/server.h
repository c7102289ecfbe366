// vendrak-lsp: the language server of vendrak scripts. It speaks the
// Language Server Protocol over a pair of streams, one JSON-RPC message
// after another, each behind its Content-Length header, and gives an
// editor the findings of vendrak-check while a script is typed, hover text
// from the language manual, definitions and references of labels and
// DEFINE names, the symbols of a script and completion.
//
// Messages are handled one at a time, in the order they come. The checks
// run as background jobs, so that answers never wait for them: the checks of
// the script itself after every change, at most one per document at a time
// (the text that comes while one runs is checked next, and a result for a
// text that is no longer held is dropped, never published), and the VBF
// checks, which read every flash file a script programs, on open and save
// only, so that a big flash file never holds up the checks of the typing.
//
// Limits that keep a hostile or broken client from taking the server down:
// a message body of at most `largest_body` bytes (a longer one is read past
// and answered with an error) and JSON nested at most `deepest_nesting`
// levels (deeper is refused before it is parsed).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace vendrak::lsp {

constexpr size_t largest_body = size_t{16} << 20;
constexpr size_t deepest_nesting = 64;

// The deepest nesting of arrays and objects in the JSON text `body`, counted
// up to `limit + 1`, without parsing it: brackets inside strings do not
// count, and the text need not be valid.
size_t nesting_depth(std::string_view body, size_t limit);

// Where the server runs its background jobs.
class background {
public:
    // Runs `job` later; a job still waiting under the same key is replaced
    // by it, so a script saved twice while its flash files are read is
    // checked once more, not twice.
    virtual void submit(const std::string& key, std::function<void()> job) = 0;

protected:
    ~background() = default;
};

// One thread that runs the jobs in the order they come.
class worker_thread final : public background {
public:
    worker_thread();
    ~worker_thread();
    worker_thread(const worker_thread&) = delete;
    worker_thread& operator=(const worker_thread&) = delete;

    void submit(const std::string& key, std::function<void()> job) override;
    // Drops the waiting jobs and waits for the one that runs.
    void stop();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<std::string, std::function<void()>>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

// Runs each job at once, inside `submit` (for tests: the answers then come
// in a fixed order).
class run_at_once final : public background {
public:
    void submit(const std::string&, std::function<void()> job) override { job(); }
};

class server {
public:
    // Writes to `out`; the checks of the scripts run on `checks`, the VBF
    // checks on `flash_checks`. The backgrounds must run no job of this
    // server once the server is gone (stop a worker_thread first). A check
    // after a change waits until no change has come for `pause`, so that a
    // burst of changes is checked once, at its end.
    server(std::ostream& out, background& checks, background& flash_checks, std::chrono::milliseconds pause = {});
    server(std::ostream& out, background& jobs) : server(out, jobs, jobs) {}
    ~server();
    server(const server&) = delete;
    server& operator=(const server&) = delete;

    // Handles the body of one message.
    void receive(std::string_view body);
    // Answers a message whose frame could not be read (`why`) with the
    // JSON-RPC parse error.
    void unreadable(std::string_view why);

    // After the exit notification; the status the process ends with: 0
    // when a shutdown request came first, 1 otherwise.
    bool exited() const;
    int exit_status() const;
    // Nothing more is written once this returns: for a process that ends
    // at once, whatever its background jobs are doing.
    void close();

private:
    struct state;
    std::unique_ptr<state> state_;
};

// Reads messages from `in` and hands them to `s` until the exit
// notification or the end of the input; returns the exit status.
int serve(std::istream& in, server& s);

}  // namespace vendrak::lsp
