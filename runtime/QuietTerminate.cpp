// An uncaught exception ends a program of the kit at once. The C++
// runtime's default handler would first print the exception's demangled
// type to the standard error stream, which these programs either do not
// have or must keep silent, and linking it (with its demangler and printf
// engine) would be a quarter of each program. Defining it here keeps the
// runtime's own out of the link.
#include <cstdlib>

#if defined(__GLIBCXX__)
namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

} // namespace __gnu_cxx
#endif
