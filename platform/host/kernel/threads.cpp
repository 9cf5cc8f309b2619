// Threads, handles, waits and the clock. The clock runs at the machine's
// scale: 1 is real time, 0.01 a hundred times faster, 0 a virtual clock on
// which sleeps cost nothing, so that no test waits real seconds.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/clock.h"
#include "platform/host/kernel/handles.h"
#include "platform/host/machine/machine.h"
#include "platform/win.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ThreadObject : host::Waitable {
    bool Wait(double realMs) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (realMs < 0) {
            done.wait(lock, [&] { return finished; });
            return true;
        }
        return done.wait_for(lock, std::chrono::duration<double, std::milli>(realMs), [&] { return finished; });
    }

    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = nullptr;
    DWORD id = 0;
};


std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;
thread_local ThreadObject *t_self = nullptr;

// ExitThread unwinds the worker's stack to its trampoline with this.
struct ThreadExit {
    DWORD code;
};

std::atomic<int64_t> g_virtualMs{0};
const Clock::time_point g_start = Clock::now();

std::shared_ptr<ThreadObject> FindThread(HANDLE h) { return host::FindHandleAs<ThreadObject>(h); }

void Finish(ThreadObject *self, DWORD code) {
    std::lock_guard<std::mutex> lock(self->mutex);
    self->exitCode = code;
    self->finished = true;
    self->done.notify_all();
}

void *Trampoline(void *arg) {
    auto *holder = static_cast<std::shared_ptr<ThreadObject> *>(arg);
    std::shared_ptr<ThreadObject> self = *holder;
    delete holder;
    t_threadId = self->id;
    t_self = self.get();
    DWORD code;
    try {
        code = self->start(self->param);
    } catch (const ThreadExit &e) {
        code = e.code;
    }
    Finish(self.get(), code);
    return nullptr;
}

}  // namespace

namespace host {

double ClockScale() {
    static const double scale = [] {
        const char *env = std::getenv("ZAV_CLOCK_SCALE");
        if (env && *env) return std::atof(env);
        auto v = MachineSetting("machine", "clock_scale");
        return v ? std::atof(v->c_str()) : 1.0;
    }();
    return scale;
}

void AdvanceVirtualClock(DWORD ms) { g_virtualMs += ms; }

}  // namespace host

DWORD WINAPI GetTickCount(void) {
    host::fault::ApiScope hostApiScope_(__func__);
    double scale = host::ClockScale();
    if (scale <= 0) return static_cast<DWORD>(g_virtualMs.load());
    auto real = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
    return static_cast<DWORD>(static_cast<int64_t>(real / scale) + g_virtualMs.load());
}

void WINAPI Sleep(DWORD ms) {
    host::fault::ApiScope hostApiScope_(__func__);
    double scale = host::ClockScale();
    if (scale <= 0) {
        host::AdvanceVirtualClock(ms);
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms * scale));
}

DWORD WINAPI GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(4);
    return t_threadId;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD flags, LPDWORD threadId) {
    HOST_API(nullptr)
    if (!start || (flags & CREATE_SUSPENDED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    object->start = start;
    object->param = param;
    object->id = g_nextThreadId.fetch_add(4);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize) pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
    pthread_t thread;
    auto *holder = new std::shared_ptr<ThreadObject>(object);
    int rc = pthread_create(&thread, &attr, Trampoline, holder);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete holder;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pthread_detach(thread);
    if (threadId) *threadId = object->id;
    return host::AddHandle(object);
}

void WINAPI ExitThread(DWORD code) {
    if (t_self) throw ThreadExit{code};
    std::exit(static_cast<int>(code));  // the main thread ends the process, as on Windows
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
    HOST_API(FALSE)
    auto thread = FindThread(h);
    if (!thread || !code) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(thread->mutex);
    *code = thread->exitCode;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    HOST_API(WAIT_FAILED)
    auto object = host::FindHandleAs<host::Waitable>(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (ms == INFINITE) return object->Wait(-1), WAIT_OBJECT_0;
    double scale = host::ClockScale();
    // On the virtual clock a timed wait still yields for a moment of real
    // time, so that a polling loop does not spin the processor.
    if (object->Wait(scale <= 0 ? 1.0 : ms * scale)) return WAIT_OBJECT_0;
    if (scale <= 0) host::AdvanceVirtualClock(ms);
    return WAIT_TIMEOUT;
}
