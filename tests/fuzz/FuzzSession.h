#pragma once

// What the fuzz front-ends share: a private work directory, quiet SOFA
// reports, and the report of a broken rule.

#include "ConversionCheck.h"

#include <string>

namespace fuzz
{

// A fresh directory under $TMPDIR (or /tmp), removed at exit.
const std::string& sessionDir();

// The SOFA layer reports every rejected file on std::cerr; a fuzzer rejects
// thousands a second. Sanitizer reports and our own go to stderr directly.
void silenceSofaReports();

// Prints the violation with the input's path and aborts, so that the fuzzer
// keeps the input.
[[noreturn]] void abortOnViolation(const std::string& inputPath, const CheckResult& result);

} // namespace fuzz
