#pragma once

// A copy of a SOFA file with its two receivers exchanged: every variable that
// has the receiver dimension R (of length 2) gets its two slices swapped.

#include <string>

namespace fixture
{
void writeWithReceiversSwapped(const std::string& from, const std::string& to);
}
