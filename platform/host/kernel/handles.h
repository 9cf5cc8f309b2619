// The process's kernel handle table: threads, tokens, files and devices are
// objects behind small handle values; CloseHandle removes them.
#pragma once

#include <memory>

#include "platform/host/win_types.h"

namespace host {

struct HandleObject {
    virtual ~HandleObject() = default;
};

// An object a wait can end on: a thread or a process.
struct Waitable : HandleObject {
    // Waits up to `realMs` milliseconds of real time (negative: for as long
    // as it takes); true once the object is signalled.
    virtual bool Wait(double realMs) = 0;
};

// Stores an object and returns its new handle (never null, never -1).
HANDLE AddHandle(std::shared_ptr<HandleObject> object);
// The object behind a handle, or null.
std::shared_ptr<HandleObject> FindHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> FindHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}
// Removes a handle; false when it was not open.
bool RemoveHandle(HANDLE handle);

}  // namespace host
