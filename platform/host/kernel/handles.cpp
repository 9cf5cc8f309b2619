#include "platform/host/kernel/faults.h"
#include "platform/host/kernel/handles.h"

#include <map>
#include <mutex>

#include "platform/win.h"

namespace host {
namespace {

std::mutex g_mutex;
std::map<HANDLE, std::shared_ptr<HandleObject>> g_handles;
uintptr_t g_next = 0x1000;

}  // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_next += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(g_next);
    g_handles[handle] = std::move(object);
    return handle;
}

std::shared_ptr<HandleObject> FindHandle(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<HandleObject> closing;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(handle);
    if (it == g_handles.end()) return false;
    closing = std::move(it->second);
    g_handles.erase(it);
    return true;
}

}  // namespace host

BOOL WINAPI CloseHandle(HANDLE h) {
    host::fault::ApiScope hostApiScope_(__func__);
    // An injected failure still closes: Windows fails only on a handle that
    // is not open, so no failure of a close leaves one open.
    bool bClosed = host::RemoveHandle(h);
    DWORD nError = hostApiScope_.Fault() ? hostApiScope_.Fault() : bClosed ? 0 : ERROR_INVALID_HANDLE;
    if (nError) SetLastError(nError);
    return nError == 0;
}
