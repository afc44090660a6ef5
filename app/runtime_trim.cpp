// Linked into the tool only. The standard library's own helpers for a
// container that cannot grow format their texts in std::string and drag in
// its formatting and, at std::terminate, a demangler for the exception's
// type name: about 140 KB of the 32-bit program for messages nobody sees in
// a program without a console. These definitions throw a plain bad_alloc
// instead, which the dialog procedure's guard catches like any other
// failure, so the sharing the tool added is still put back.
#include <cstdlib>
#include <new>

namespace std {

void __throw_bad_alloc()
{
    throw bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw bad_alloc();
}

void __throw_length_error(const char *)
{
    throw bad_alloc();
}

}  // namespace std

namespace __gnu_cxx {

// Reached only by an exception that nothing caught.
void __verbose_terminate_handler()
{
    abort();
}

}  // namespace __gnu_cxx
