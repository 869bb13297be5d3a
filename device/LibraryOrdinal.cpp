#include "device/LibraryOrdinal.h"

#define NOMINMAX
#include <windows.h>

#include <string>

void *resolveLibraryOrdinal(const QString &loadedFile, int ordinal)
{
    const std::wstring file = loadedFile.toStdWString();
    // The library is loaded already (by QLibrary); this only looks up its handle.
    HMODULE module = GetModuleHandleW(file.c_str());
    if (!module)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
}
