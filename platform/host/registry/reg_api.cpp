// The Reg* API of the host over the machine's registry store. Handles name
// a key by its path, so that a change another process made meanwhile is
// seen; a handle whose key this process deleted stays dead (1018) even if a
// key of the same name comes back.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "platform/host/registry/internal.h"
#include "platform/host/registry/store.h"
#include "platform/host/win_registry.h"

using host::reg::Fold;
using host::reg::Key;
using host::reg::Store;
using host::reg::Value;

namespace {

struct Handle {
    std::string path;  // full key path
    bool deleted = false;
};

// Everything below is guarded by g_mutex: the program's worker thread uses
// the registry too.
std::mutex g_mutex;
std::unordered_map<uintptr_t, Handle> g_handles;
// Small values, far from the predefined roots (0x80000000 and up).
uintptr_t g_nextHandle = 0x1000;

Store &TheStore() {
    static Store store;
    return store;
}

void FinishAtExit() { host::RegistryFinish(); }

// A process that journalled a change folds it in before it ends.
LONG Committed(Store &store, LONG rc) {
    static bool registered = false;
    if (rc == ERROR_SUCCESS && store.JournalPending() && !registered) {
        registered = true;
        std::atexit(FinishAtExit);
    }
    return rc;
}

const char *RootName(HKEY h) {
    if (h == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (h == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (h == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (h == HKEY_USERS) return "HKEY_USERS";
    return nullptr;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// The parts of a relative key path; doubled or trailing backslashes are
// skipped. False for names the registry files cannot hold.
bool SubKeyParts(LPCSTR subKey, std::vector<std::string_view> *parts) {
    parts->clear();
    if (!subKey) return true;
    if (HasLineBreak(subKey)) return false;
    for (std::string_view part : host::reg::SplitKeyPath(subKey)) {
        if (!part.empty()) parts->push_back(part);
    }
    return true;
}

HKEY NewHandle(const Key &key) {
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles[value] = Handle{key.Path()};
    return reinterpret_cast<HKEY>(value);
}

// Handles on a deleted key or below it stay dead.
void MarkDeleted(const std::string &path) {
    std::string gone = Fold(path);
    for (auto &entry : g_handles) {
        std::string p = Fold(entry.second.path);
        if (p == gone || (p.size() > gone.size() && p.compare(0, gone.size(), gone) == 0 && p[gone.size()] == '\\')) {
            entry.second.deleted = true;
        }
    }
}

// One API call: holds the process mutex and, for a change, the machine's
// registry lock until it returns.
class Call {
public:
    explicit Call(bool write) : lock_(g_mutex), write_(write) {}
    ~Call() {
        if (write_) store().EndWrite();
    }
    Store &store() { return TheStore(); }

    // Brings the registry up to date and finds the key behind `h`.
    LONG Prepare(HKEY h, Key **key) {
        std::string path;
        if (const char *root = RootName(h)) {
            path = root;
        } else {
            auto it = g_handles.find(reinterpret_cast<uintptr_t>(h));
            if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
            if (it->second.deleted) return ERROR_KEY_DELETED;
            path = it->second.path;
        }
        LONG rc = write_ ? store().BeginWrite() : store().Read();
        if (rc != ERROR_SUCCESS) return rc;
        *key = store().tree().Find(path);
        return *key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }

private:
    std::lock_guard<std::mutex> lock_;
    bool write_;
};

Key *Walk(Key *key, const std::vector<std::string_view> &parts) {
    for (std::string_view part : parts) {
        if (!key) break;
        key = key->Child(part);
    }
    return key;
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    HOST_REG_API()
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string_view> parts;
    if (!SubKeyParts(lpSubKey, &parts)) return ERROR_FILE_NOT_FOUND;
    Call call(false);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    key = Walk(key, parts);
    if (!key) return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(*key);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
    HOST_REG_API()
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string_view> parts;
    if (!SubKeyParts(lpSubKey, &parts)) return ERROR_INVALID_PARAMETER;
    {
        // Most creates open an existing key: no need for the registry lock.
        Call call(false);
        Key *key = nullptr;
        if (LONG rc = call.Prepare(hKey, &key)) return rc;
        if (Key *found = Walk(key, parts)) {
            *phkResult = NewHandle(*found);
            if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            return ERROR_SUCCESS;
        }
    }
    Call call(true);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    bool created = false;
    for (std::string_view part : parts) {
        bool isNew = false;
        key = key->AddChild(part, &isNew);
        created = created || isNew;
    }
    if (created) {
        if (LONG rc = Committed(call.store(), call.store().Commit(host::reg::SectionLine(*key) + "\n"))) return rc;
    }
    *phkResult = NewHandle(*key);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    HOST_REG_API()
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    Call call(false);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    const Value *value = key->FindValue(lpValueName ? lpValueName : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value->data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData) {
    HOST_REG_API()
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    std::string_view name = lpValueName ? lpValueName : "";
    if (HasLineBreak(name)) return ERROR_INVALID_PARAMETER;
    Call call(true);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    if (call.store().ValueLocked(key->Path(), name)) return ERROR_ACCESS_DENIED;
    const Value &value = key->SetValue(name, dwType, std::vector<BYTE>(lpData, lpData + cbData));
    return Committed(call.store(), call.store().Commit(host::reg::SectionLine(*key) + host::reg::ValueLine(value) + "\n"));
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    HOST_REG_API()
    std::string_view name = lpValueName ? lpValueName : "";
    Call call(true);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    if (call.store().ValueLocked(key->Path(), name)) return ERROR_ACCESS_DENIED;
    if (!key->DeleteValue(name)) return ERROR_FILE_NOT_FOUND;
    return Committed(call.store(),
                     call.store().Commit(host::reg::SectionLine(*key) + host::reg::DeleteValueLine(name) + "\n"));
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    HOST_REG_API()
    if (!lpName || !lpcchName || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    Call call(false);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    if (dwIndex >= key->children().size()) return ERROR_NO_MORE_ITEMS;
    const std::string &name = key->children()[dwIndex]->name();
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass) {
        if (*lpcchClass < 1) return ERROR_MORE_DATA;
        lpClass[0] = '\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = call.store().Stamp();
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    HOST_REG_API()
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    Call call(false);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    if (dwIndex >= key->values().size()) return ERROR_NO_MORE_ITEMS;
    const Value &value = key->values()[dwIndex];
    if (value.name.size() >= *lpcchValueName) return ERROR_MORE_DATA;
    std::memcpy(lpValueName, value.name.c_str(), value.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(value.name.size());
    if (lpType) *lpType = value.type;
    DWORD size = static_cast<DWORD>(value.data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    HOST_REG_API()
    std::vector<std::string_view> parts;
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    if (!SubKeyParts(lpSubKey, &parts)) return ERROR_FILE_NOT_FOUND;
    Call call(true);
    Key *key = nullptr;
    if (LONG rc = call.Prepare(hKey, &key)) return rc;
    Key *target = Walk(key, parts);
    if (!target) return ERROR_FILE_NOT_FOUND;
    std::string path = target->Path();
    Store &store = call.store();
    // Roots and protected keys stay. NT refuses a key that still has
    // subkeys; 9x removes the subtree, unless something protected is in it.
    bool nt = host::MachineIsNt();
    if (path.find('\\') == std::string::npos || store.KeyLocked(path, !nt)) return ERROR_ACCESS_DENIED;
    if (nt && !target->children().empty()) return ERROR_ACCESS_DENIED;
    std::string record = host::reg::DeleteKeyLine(*target) + "\n";
    store.tree().Remove(target);
    if (LONG rc = Committed(store, store.Commit(record))) return rc;
    MarkDeleted(path);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    host::fault::ApiScope hostApiScope_(__func__);
    // As CloseHandle: an injected failure still closes the key.
    LONG rc = ERROR_SUCCESS;
    if (!RootName(hKey)) {
        std::lock_guard<std::mutex> lock(g_mutex);
        rc = g_handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }
    return hostApiScope_.Fault() ? static_cast<LONG>(hostApiScope_.Fault()) : rc;
}

namespace host {

LONG RegistryCompact() {
    Call call(true);
    LONG rc = call.store().BeginWrite();
    return rc == ERROR_SUCCESS ? call.store().Compact() : rc;
}

LONG RegistryFinish() {
    Call call(true);
    LONG rc = call.store().BeginWrite();
    return rc == ERROR_SUCCESS ? call.store().Finish() : rc;
}

LONG RegistryExport(std::string *text) {
    Call call(false);
    LONG rc = call.store().Read();
    if (rc == ERROR_SUCCESS) *text = host::reg::Serialize(call.store().tree());
    return rc;
}

}  // namespace host
