#include "convert/Treatment.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(Treatment, StoredIntegersAndNames)
{
    // The values are the settings file's and procOption's integers.
    struct Case
    {
        Treatment treatment;
        std::int32_t value;
        const char* name;
    };
    const Case cases[] = {
        { Treatment::none, 0, "none" }, { Treatment::crop, 1, "crop" }, { Treatment::minimumPhase, 2, "minphase" }
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toProcOption(c.treatment), c.value);
        EXPECT_EQ(treatmentOf(c.value), c.treatment);
        EXPECT_EQ(std::string(treatmentName(c.treatment)), c.name);
        Treatment parsed = Treatment::none;
        EXPECT_TRUE(parseTreatment(c.name, parsed));
        EXPECT_EQ(parsed, c.treatment);
    }
    EXPECT_EQ(kDefaultTreatment, Treatment::minimumPhase);
    EXPECT_EQ(kDefaultCropThresholdDb, 20);
}

TEST(Treatment, AnyOtherIntegerIsNoneAndOtherNamesAreRefused)
{
    for (const std::int32_t value : { -1, 3, 4, INT_MAX, INT_MIN })
        EXPECT_EQ(treatmentOf(value), Treatment::none) << value;

    for (const char* name : { "", "None", "minimumphase", "minphase ", "2" })
    {
        Treatment parsed = Treatment::crop;
        EXPECT_FALSE(parseTreatment(name, parsed)) << name;
        EXPECT_EQ(parsed, Treatment::crop) << "left as it was";
    }
}
