// Printing a text, for test output and diagnostics. Kept apart so that a
// program that never prints does not link the stream library.
#include <ostream>

#include "framework/text.h"

std::ostream& operator<<(std::ostream& out, const TText& s) { return out << s.view(); }
