// The program's handler of last resort. The library's own prints the type
// of an uncaught exception, demangled, to a console this program does not
// have; its demangler alone would be a twentieth of the program's size.
// Defining it here keeps that code out of the link.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
