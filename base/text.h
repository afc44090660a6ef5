// Bounded copies into fixed-capacity buffers. A piece that does not fit is a
// failure the caller must handle: the buffer then holds a shortened string
// that must never be used as a name, path or command.
#pragma once

#include <windows.h>
#include <strsafe.h>

template <size_t N>
bool copyText(WCHAR (&dest)[N], const WCHAR *source)
{
    return SUCCEEDED(StringCchCopyW(dest, N, source));
}

template <size_t N>
bool appendText(WCHAR (&dest)[N], const WCHAR *source)
{
    return SUCCEEDED(StringCchCatW(dest, N, source));
}
