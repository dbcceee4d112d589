#pragma once

// Text made safe for the report's JSON and XHTML: strings escaped, numbers
// written so that they read back to the same value.

#include <string>

// s as a JSON string literal, quotes included. UTF-8 passes through; the
// quote, the backslash and every control character are escaped, and so are
// bytes that are not valid UTF-8 (each as U+FFFD), so the result is always
// valid JSON.
std::string jsonString(const std::string& s);

// The shortest decimal that reads back to v (as a double); "null" when v is
// not finite. Integers print without a fraction.
std::string jsonNumber(double v);
// The shortest decimal that reads back to the float v.
std::string jsonNumber(float v);

// s with &, <, >, " and ' replaced by character references, and invalid UTF-8
// and control characters other than tab and newline replaced by U+FFFD, for
// XHTML text and attribute values.
std::string xmlText(const std::string& s);
