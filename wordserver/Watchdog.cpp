// The watchdog: one thread that kills the engine when the current call passes its deadline.
#include "EngineInternal.h"
#include "ProcessInternal.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace wordengine {
namespace detail {

using namespace std::chrono;

namespace {

struct Watchdog {
    std::mutex m;
    std::condition_variable cv;
    bool armed = false;
    bool fired = false;
    int pid = 0;
    steady_clock::time_point deadline;
    std::thread thread;

    void Run()
    {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            if (!armed) {
                cv.wait(lock);
                continue;
            }
            if (cv.wait_until(lock, deadline) == std::cv_status::timeout && armed &&
                steady_clock::now() >= deadline) {
                // The blocked call returns once the link breaks.
                if (pid > 0)
                    KillEngine(pid);
                fired = true;
                armed = false;
            }
        }
    }
};

Watchdog& Dog()
{
    static Watchdog* w = [] {
        auto* d = new Watchdog;  // lives for the process: its thread never ends
        d->thread = std::thread([d] { d->Run(); });
        d->thread.detach();
        return d;
    }();
    return *w;
}

}  // namespace

void WatchdogArm(int ms)
{
    Watchdog& w = Dog();
    std::lock_guard<std::mutex> lock(w.m);
    w.armed = true;
    w.fired = false;
    w.pid = State().pid;
    w.deadline = steady_clock::now() + milliseconds(ms);
    w.cv.notify_all();
}

bool WatchdogDisarm()
{
    Watchdog& w = Dog();
    std::lock_guard<std::mutex> lock(w.m);
    w.armed = false;
    bool fired = w.fired;
    w.fired = false;
    w.cv.notify_all();
    return fired;
}

}  // namespace detail
}  // namespace wordengine
