// A DLL of the device library's own: a library double imports it, and it
// lies beside that double only when the test puts it there.
extern "C" __declspec(dllexport) int probeHelperAnswer()
{
    return 42;
}
