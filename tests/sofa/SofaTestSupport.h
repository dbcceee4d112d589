#pragma once

// Shared by the SOFA layer's tests: standard-error capture and the check
// that a raised exception's report matches what it carries.

#include "sofa/sofafile.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <sstream>
#include <string>

namespace sofatest
{

// Redirects std::cerr into a string for the object's lifetime.
class CerrCapture
{
public:
    CerrCapture() : previous(std::cerr.rdbuf(captured.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;

    std::string text() const { return captured.str(); }
    void clear() { captured.str(std::string()); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};

// The unit whose name a raised rule's report must show.
inline std::string UnitOf(const std::string& message)
{
    for (const char* own : {"'DataType' shall be FIR", "invalid 'RoomType'", "invalid number of emitters",
                            "missing 'ListenerUp' variable"})
        if (message == own)
            return "sofasimplefreefieldhrir.cpp";
    return "sofafile.cpp";
}

// The report written when e was raised: two lines naming unit and line.
inline void ExpectReport(const std::string& report, const sofa::Exception& e)
{
    const std::string expected = "Exception occured (in file " + UnitOf(e.what()) + " at line "
                                 + std::to_string(e.GetLine()) + ") : \n        " + e.what() + "\n";
    EXPECT_EQ(report, expected);
    EXPECT_GT(e.GetLine(), 0u);
}

// "valid" when check() returns true, "not open" when false, else the
// message of the sofa::Exception it raises (its report checked on the way).
template <typename Check>
std::string Outcome(Check check)
{
    CerrCapture capture;
    try
    {
        return check() ? "valid" : "not open";
    }
    catch (const sofa::Exception& e)
    {
        ExpectReport(capture.text(), e);
        return e.what();
    }
}

} // namespace sofatest
