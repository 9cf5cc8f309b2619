// kdo_32up.dll for Windows: the INT 13h access library serving the BIOS
// disk functions for the first hard disk from an image file beside the DLL,
// kdo_32up.img (255 heads, 63 sectors per track). The image is opened on
// every call, as a BIOS sees the disk as it is now.
#include <windows.h>

#include <cstring>

#include "tools/kdo32up/int13_service.h"

namespace {

HMODULE g_hThisLibrary;

class ImageFile : public kdo::Disk {
public:
    ~ImageFile() override {
        if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
    }

    bool Open(bool bForWrite) override {
        char szPath[MAX_PATH];
        DWORD nLength = GetModuleFileNameA(g_hThisLibrary, szPath, MAX_PATH);
        if (nLength == 0 || nLength >= MAX_PATH) return false;
        char *pszDot = strrchr(szPath, '.');
        if (!pszDot || pszDot + 4 >= szPath + MAX_PATH) return false;
        strcpy(pszDot, ".img");
        DWORD dwAccess = GENERIC_READ | (bForWrite ? GENERIC_WRITE : 0);
        m_hFile = CreateFileA(szPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        return m_hFile != INVALID_HANDLE_VALUE;
    }

    uint64_t Bytes() const override {
        LARGE_INTEGER size;
        return GetFileSizeEx(m_hFile, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }

    bool Read(uint64_t offset, void *pBuffer, uint64_t nBytes) override {
        DWORD nDone = 0;
        return Seek(offset) && ReadFile(m_hFile, pBuffer, static_cast<DWORD>(nBytes), &nDone, nullptr) &&
               nDone == nBytes;
    }

    bool Write(uint64_t offset, const void *pBuffer, uint64_t nBytes) override {
        DWORD nDone = 0;
        return Seek(offset) && WriteFile(m_hFile, pBuffer, static_cast<DWORD>(nBytes), &nDone, nullptr) &&
               nDone == nBytes;
    }

private:
    bool Seek(uint64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(m_hFile, to, nullptr, FILE_BEGIN) != 0;
    }

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) g_hThisLibrary = hInstance;
    return TRUE;
}

extern "C" __declspec(dllexport) int DoInt13rw(int drive, int function, unsigned short cylinder,
                                               unsigned short head, unsigned short sector, int count,
                                               void *buffer) {
    ImageFile disk;
    return kdo::Int13rw(disk, drive, function, cylinder, head, sector, count, buffer);
}

extern "C" __declspec(dllexport) int DoInt13Ext(int function, int drive, unsigned int lba, int count,
                                                void *buffer) {
    ImageFile disk;
    return kdo::Int13Ext(disk, function, drive, lba, count, buffer);
}
