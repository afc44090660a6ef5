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

// Appends what `append` appends, or nothing: when the whole does not fit,
// `dest` is put back as it was, so that no piece of it is shown cut.
template <size_t N, typename Append>
bool appendWhole(WCHAR (&dest)[N], Append append)
{
    size_t length = 0;
    if (FAILED(StringCchLengthW(dest, N, &length)))
        return false;
    if (append())
        return true;
    dest[length] = L'\0';
    return false;
}
