#pragma once

#include <QString>

// Resolves a function of an already loaded Windows DLL by its export ordinal,
// which QLibrary cannot do. Kept apart from the D2XX types because windows.h
// declares DWORD and ULONG differently. Windows only.
void *resolveLibraryOrdinal(const QString &loadedFile, int ordinal);
