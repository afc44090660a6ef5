// Linked into the tool only. The tool catches no exception: the only ones its
// code can meet are the standard library's allocation failures, and those
// must not unwind through the dialog procedure and the system's message
// dispatch anyway. The library's own helpers for them format texts in
// std::string and, at std::terminate, demangle the exception's type name:
// about 140 KB of the 32-bit program for a message nobody sees in a program
// without a console. These definitions take their place and end the process
// at the point of failure, which is where an escaping exception would end it.
#include <cstdlib>

namespace std {

void __throw_bad_alloc()
{
    abort();
}

void __throw_bad_array_new_length()
{
    abort();
}

void __throw_length_error(const char *)
{
    abort();
}

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    abort();
}

}  // namespace __gnu_cxx
