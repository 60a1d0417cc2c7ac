#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>

#include "hlylogging.h"
#include "hlyresults.h"

HLY_SET_LOCAL_LOGGER("halyard.tests.results")

TEST(Results, NamesAndValuesAreBinding)
{
    EXPECT_STREQ(HLY_ResultText(0), "SUCCESS");
    EXPECT_STREQ(HLY_ResultText(-1), "FAILURE");
    EXPECT_STREQ(HLY_ResultText(-20014), "HLY_ERROR_TIMEOUT");
    EXPECT_STREQ(HLY_ResultText(-20000), "HLY_ERROR_INVALID_PARAMETERS");
    EXPECT_STREQ(HLY_ResultText(-20021), "HLY_ERROR_CANCELLED");
    EXPECT_STREQ(HLY_ResultText(-20102), "HLY_ERROR_LIST_OPERATION_CONTINUE");
    EXPECT_STREQ(HLY_ResultText(-20209), "HLY_ERROR_DIRECTORY_NOT_EMPTY");
    EXPECT_STREQ(HLY_ResultText(-20302), "HLY_ERROR_EOS");
    EXPECT_STREQ(HLY_ResultText(-20414), "HLY_ERROR_NETWORK_UNREACHABLE");
    EXPECT_STREQ(HLY_ResultText(-20500), "HLY_ERROR_NO_SUCH_INTERFACE");
    EXPECT_STREQ(HLY_ResultText(-20601), "HLY_ERROR_XML_TAG_MISMATCH");
    EXPECT_STREQ(HLY_ResultText(-20807), "HLY_ERROR_HTTP_CANNOT_RESEND_BODY");
    EXPECT_STREQ(HLY_ResultText(-20901), "HLY_ERROR_CALLBACK_NOTHING_PENDING");
    EXPECT_STREQ(HLY_ResultText(-21003), "HLY_ERROR_SERIAL_PORT_BUSY");
    EXPECT_STREQ(HLY_ResultText(-21101), "HLY_ERROR_INVALID_PASSWORD");
    EXPECT_STREQ(HLY_ResultText(-21130), "HLY_ERROR_TLS_DNS_NAME_MISMATCH");

    EXPECT_EQ(HLY_ERROR_INVALID_STATE, -20009);
    EXPECT_EQ(HLY_ERROR_NO_SUCH_ITEM, -20005);
    EXPECT_EQ(HLY_ERROR_CONNECTION_REFUSED, -20402);
    EXPECT_EQ(HLY_ERROR_NOT_CONNECTED, -20415);
    EXPECT_EQ(HLY_ERROR_ERRNO(2), -22002);
}

TEST(Results, GapsAndUnnamedCodesReadUnknown)
{
    for (int code : {-20022, -20099, -20103, -20415, -20700, -20799, -21100, -21131, -22002, 1, -2, 20014}) {
        EXPECT_STREQ(HLY_ResultText(code), "UNKNOWN") << code;
    }
}

TEST(Results, EveryNamedCodeNamesItself)
{
    int named = 0;
    for (int code = -22000; code <= -20000; code++) {
        const char* name = HLY_ResultText(code);
        if (strcmp(name, "UNKNOWN") == 0) continue;
        ++named;
        EXPECT_EQ(strncmp(name, "HLY_ERROR_", 10), 0) << code;
    }
    EXPECT_EQ(named, 100);
}

static int g_Evaluations = 0;
static HLY_Result Count(HLY_Result r)
{
    ++g_Evaluations;
    return r;
}
static HLY_Result CheckSevere(HLY_Result r, bool& reached_end)
{
    reached_end = false;
    HLY_CHECK_SEVERE(Count(r));
    reached_end = true;
    return HLY_SUCCESS;
}
static HLY_Result CheckPlain(HLY_Result r, bool& reached_end)
{
    reached_end = false;
    HLY_CHECK(Count(r));
    reached_end = true;
    return 7;
}
static HLY_Result CheckPointer(const void* p)
{
    HLY_CHECK_POINTER_WARNING(p);
    return HLY_SUCCESS;
}

TEST(Results, CheckMacrosReturnFailuresAndEvaluateOnce)
{
    bool end;
    g_Evaluations = 0;
    EXPECT_EQ(CheckSevere(HLY_ERROR_TIMEOUT, end), HLY_ERROR_TIMEOUT);
    EXPECT_FALSE(end);
    EXPECT_EQ(CheckSevere(HLY_SUCCESS, end), HLY_SUCCESS);
    EXPECT_TRUE(end);
    // any value other than success is a failure, positive ones included
    EXPECT_EQ(CheckPlain(3, end), 3);
    EXPECT_FALSE(end);
    EXPECT_EQ(CheckPlain(HLY_SUCCESS, end), 7);
    EXPECT_TRUE(end);
    EXPECT_EQ(g_Evaluations, 4);

    int x = 1;
    EXPECT_EQ(CheckPointer(nullptr), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(CheckPointer(&x), HLY_SUCCESS);
}

TEST(Results, CheckMessageShowsTheExpandedExpression)
{
    // the text logged for a failed check is the macro-expanded expression in parentheses
    EXPECT_STREQ(HLY_STRINGIFY((HLY_ERROR_INVALID_STATE)), "(((-20000-0) - 9))");
}

TEST(Logging, LoggerLookupWithoutConfigurationWritesNothing)
{
    if (getenv("HALYARD_LOG_CONFIG")) GTEST_SKIP() << "logging is configured for this run";
    // unconfigured, a logger exists but rejects every level
    HLY_LoggerReference logger("halyard.tests.none");
    ASSERT_NE(logger.Get(), nullptr);
    EXPECT_EQ(logger.Get()->GetLevel(), HLY_LOG_LEVEL_OFF);
    HLY_LOG_SEVERE("never shown %d", 1); // must compile and do nothing
}
