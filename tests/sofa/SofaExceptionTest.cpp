// The SOFA exception: its text, and the two-line report it writes to
// standard error when raised.

#include "SofaTestSupport.h"

#include "sofa/sofafile.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(SofaException, ReportNamesTheUnitAfterTheLastSeparator)
{
    struct Case
    {
        const char* file;
        const char* unit;
    };
    for (const Case& c : {Case{"C:\\src\\sofa\\sofafile.cpp", "sofafile.cpp"},
                          Case{"/work/main/sofa/sofasimplefreefieldhrir.cpp", "sofasimplefreefieldhrir.cpp"},
                          Case{"sofafile", "sofafile"},
                          Case{"a\\b/c.cpp", "c.cpp"},
                          Case{"a/b\\c.cpp", "c.cpp"},
                          Case{"dir/", ""}})
    {
        SCOPED_TRACE(c.file);
        sofatest::CerrCapture capture;
        const sofa::Exception e("invalid 'RoomType'", c.file, 42);
        EXPECT_EQ(capture.text(), std::string("Exception occured (in file ") + c.unit
                                      + " at line 42) : \n        invalid 'RoomType'\n");
        EXPECT_STREQ(e.what(), "invalid 'RoomType'");
        EXPECT_EQ(e.GetFile(), c.file);
        EXPECT_EQ(e.GetLine(), 42u);
    }
}

TEST(SofaException, TextIsKeptWhole)
{
    sofatest::CerrCapture capture;
    const std::string text = "Missing SOFA attribute : Title";
    const sofa::Exception e(text, "sofafile.cpp", 4294967295u);
    EXPECT_EQ(capture.text(), "Exception occured (in file sofafile.cpp at line 4294967295) : \n        " + text + "\n");
    EXPECT_EQ(std::string(e.what()), text);

    // Caught as a std::exception, as the converter does.
    try
    {
        throw sofa::Exception("", "x", 1);
    }
    catch (const std::exception& caught)
    {
        EXPECT_STREQ(caught.what(), "");
    }
}

} // namespace
