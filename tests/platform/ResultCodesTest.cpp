#include <gtest/gtest.h>

#include <set>
#include <string>

#include "KxapiResult.h"

namespace {

const char* const UNKNOWN = "??? UNKNOWN KXAPI_RESULT ???";

TEST(ResultCodes, NamesMatchValuesAcrossTheWholeNumbering)
{
    EXPECT_STREQ(KxapiResult2Str(0), "KXAPI_OK");
    EXPECT_STREQ(KxapiResult2Str(2), "KXAPI_OK_PENDING");
    EXPECT_STREQ(KxapiResult2Str(5), "KXAPI_OK_OBSOLETE_FW");
    EXPECT_STREQ(KxapiResult2Str(4096), "KXAPI_E_ATTACHED");
    EXPECT_STREQ(KxapiResult2Str(4105), "KXAPI_E_INVALID_BUF");
    EXPECT_STREQ(KxapiResult2Str(4107), "KXAPI_E_INVALID_FLAGS");
    EXPECT_STREQ(KxapiResult2Str(4157), "KXAPI_E_TIMEOUT");
    EXPECT_STREQ(KxapiResult2Str(4315), "KXAPI_E_INVALID_ENC_TYPE");
    EXPECT_STREQ(KxapiResult2Str(4317), "KXAPI_E_NO_ENCODER");
    EXPECT_STREQ(KxapiResult2Str(4340), "KXAPI_E_INVALID_FECTYPE");
    EXPECT_STREQ(KxapiResult2Str(4342), "KXAPI_E_INVALID_VERSION");
    EXPECT_STREQ(KxapiResult2Str(4358), "KXAPI_E_STAT_NOTAVAIL");
    EXPECT_STREQ(KxapiResult2Str(4362), "KXAPI_E_PLP_NOT_FOUND");
}

TEST(ResultCodes, UnassignedValuesAreUnknown)
{
    for (KXAPI_RESULT value : {6u, 4095u, 4106u, 4316u, 4341u, 4363u, 0xFFFFFFFFu})
        EXPECT_STREQ(KxapiResult2Str(value), UNKNOWN) << value;
}

TEST(ResultCodes, EveryErrorFrom4096To4362HasOneDistinctNameExceptTheThreeGaps)
{
    std::set<std::string> names;
    int known = 0;
    for (KXAPI_RESULT value = 4096; value <= 4362; value++) {
        std::string name = KxapiResult2Str(value);
        if (value == 4106 || value == 4316 || value == 4341) {
            EXPECT_EQ(name, UNKNOWN) << value;
            continue;
        }
        EXPECT_EQ(name.rfind("KXAPI_E_", 0), 0u) << value;
        names.insert(name);
        known++;
    }
    EXPECT_EQ(known, 264);
    EXPECT_EQ(names.size(), 264u);
}

TEST(ResultCodes, SuccessIsEveryValueBelow4096)
{
    EXPECT_TRUE(KxapiSucceeded(KXAPI_OK_PENDING));
    EXPECT_TRUE(KxapiSucceeded(4095));
    EXPECT_FALSE(KxapiSucceeded(KXAPI_E_ATTACHED));
    EXPECT_TRUE(KxapiFailed(KXAPI_E_PLP_NOT_FOUND));
}

TEST(ResultCodes, DriverStatusWordsMapThroughTheTable)
{
    EXPECT_EQ(KxResultToKxapiResult(0x10002), KXAPI_E_OUT_OF_MEM);
    EXPECT_EQ(KxResultToKxapiResult(0x10007), KXAPI_E_TIMEOUT);
    EXPECT_EQ(KxResultToKxapiResult(0x1000C), KXAPI_E_EVENT_POWER);
    EXPECT_EQ(KxResultToKxapiResult(0x1000F), KXAPI_E_BUSY);
    EXPECT_EQ(KxResultToKxapiResult(0x10018), KXAPI_E_EXCL_ACCESS_REQD);
    EXPECT_EQ(KxResultToKxapiResult(0x1001B), KXAPI_E_NOT_IMPLEMENTED);
    EXPECT_EQ(KxResultToKxapiResult(0x1001E), KXAPI_E_INVALID_MODE);
    EXPECT_EQ(KxResultToKxapiResult(0x1001F), KXAPI_E_NOT_FOUND);
    for (unsigned int status : {0u, 0x10000u, 0x10001u, 0x10020u, 0xFFFFFFFFu})
        EXPECT_EQ(KxResultToKxapiResult(status), KXAPI_E_DEV_DRIVER) << std::hex << status;
}

} // namespace
