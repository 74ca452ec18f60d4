// The command property table and the service-side acceptance of port commands.
#include <gtest/gtest.h>

#include <set>

#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"
#include "DemodSvcValidation.h"

using namespace Kxapi;

TEST(DemodProtocol, PropertyTableHasTheDefinedOrderAndColumns)
{
    // Code, queued, waitDone, suspendsStats, scanClass, minSize, in table order.
    const int expected[][6] = {
        {3, 0, 0, 0, 0, 4},   {26, 0, 0, 0, 0, 272}, {27, 1, 0, 1, 1, 32}, {37, 1, 0, 1, 1, 4},  {39, 0, 0, 0, 0, 4},
        {41, 0, 0, 0, 0, 4},  {5, 1, 1, 0, 0, 8},    {6, 0, 0, 0, 0, 4},   {35, 0, 0, 0, 0, 4},  {11, 0, 0, 0, 0, 4},
        {13, 0, 0, 0, 0, 4},  {45, 0, 0, 0, 0, 4},   {25, 1, 0, 0, 2, 8},  {32, 1, 0, 0, 0, 12}, {12, 1, 1, 0, 0, 40},
        {14, 1, 0, 1, 2, 16}, {46, 1, 0, 1, 0, 4},   {47, 1, 0, 0, 2, 8},  {15, 1, 0, 1, 2, 20}, {36, 1, 0, 1, 2, 4},
        {40, 1, 0, 1, 2, 4},  {42, 1, 0, 1, 2, 4},   {16, 1, 1, 0, 2, 8},  {17, 1, 1, 0, 2, 8},  {18, 1, 1, 0, 2, 8},
        {24, 1, 1, 1, 1, 32}, {50, 1, 0, 1, 1, 4},   {51, 0, 0, 0, 1, 4},  {52, 1, 0, 0, 2, 4},  {53, 0, 0, 0, 2, 4},
        {19, 1, 1, 0, 0, 8},  {20, 1, 1, 0, 0, 12},  {38, 0, 0, 0, 0, 4},  {49, 0, 0, 0, 0, 4},  {31, 0, 0, 0, 0, 8},
        {34, 1, 0, 0, 2, 8},  {43, 1, 1, 0, 2, 4},   {57, 1, 0, 0, 0, 4},  {58, 1, 0, 0, 0, 4},  {59, 0, 0, 0, 0, 4},
        {7, 0, 0, 0, 0, 4},   {8, 0, 0, 0, 0, 8},    {9, 0, 0, 0, 0, 12},  {10, 0, 0, 0, 0, 12}, {30, 0, 0, 0, 0, 8},
        {54, 0, 0, 0, 0, 4},  {55, 0, 0, 0, 0, 4},   {56, 1, 1, 0, 0, 4},
    };
    ASSERT_EQ(CommandPropertiesCount, sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < CommandPropertiesCount; i++) {
        const DemodCmdProperties& row = CommandProperties[i];
        SCOPED_TRACE(row.m_Cmd);
        EXPECT_EQ(int(row.m_Cmd), expected[i][0]);
        EXPECT_EQ(int(row.m_Queued), expected[i][1]);
        EXPECT_EQ(int(row.m_WaitDone), expected[i][2]);
        EXPECT_EQ(int(row.m_SuspendsStats), expected[i][3]);
        EXPECT_EQ(row.m_ScanClass, expected[i][4]);
        EXPECT_EQ(int(row.m_MinSize), expected[i][5]);
        EXPECT_EQ(DemodFindCmdProperties(row.m_Cmd), &row);
    }
    // Connection commands and unused codes are not port commands.
    for (uint32_t cmd : {0u, 1u, 2u, 4u, 21u, 44u, 48u, 60u, 0xFFFFFFFFu})
        EXPECT_EQ(DemodFindCmdProperties(cmd), nullptr) << cmd;
}

TEST(DemodProtocol, PortCommandAcceptance)
{
    const DemodCmdProperties* props = nullptr;
    uint8_t msg[272] = {};
    // Unknown code: invalid parameters (the handler logs it).
    msg[0] = 4;
    EXPECT_EQ(DemodCheckPortCommand(msg, 8, props), KXAPI_E_INVALID_PARS);
    EXPECT_EQ(props, nullptr);
    // Event registration shorter than 272 bytes: invalid header.
    msg[0] = 26;
    EXPECT_EQ(DemodCheckPortCommand(msg, 271, props), KXAPI_E_INVALID_HEADER);
    EXPECT_EQ(DemodCheckPortCommand(msg, 272, props), KXAPI_OK);
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(props->m_Cmd, 26u);
    // A 4-byte generic tune is long enough for the table (its text is checked later).
    msg[0] = 37;
    EXPECT_EQ(DemodCheckPortCommand(msg, 4, props), KXAPI_OK);
    EXPECT_TRUE(props->m_Queued);
    EXPECT_FALSE(DemodMessageHasCommand(3));
    EXPECT_EQ(DemodCheckPortCommand(msg, 3, props), KXAPI_E_INVALID_HEADER);
}

TEST(DemodProtocol, GenericRequestsNeedTheirElements)
{
    Markup doc;
    const std::wstring pars = L"<KxDemodPars mod=\"11\"><T2 bw=\"3\" prof=\"0\"/></KxDemodPars>";
    DemodMsg tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, L"<FreqHz>474000000</FreqHz>" + pars);
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_OK);
    // Order does not matter and unknown elements are ignored.
    tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, pars + L"<Extra/><FreqHz>1</FreqHz>");
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_OK);
    // A tune without FreqHz, or with an empty one, is refused.
    tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, pars);
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_E_INTERNAL);
    tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, L"<FreqHz></FreqHz>" + pars);
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_E_INTERNAL);
    // Malformed text and a missing final NUL.
    tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, L"<FreqHz>1</Freq>" + pars);
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_E_INTERNAL);
    tune = DemodBuildGenericReq(DEMOD_CMD_TUNE, L"<FreqHz>1</FreqHz>" + pars);
    tune.back() = 'x';
    EXPECT_EQ(DemodOpenGenericRequest(tune.data(), tune.size(), doc), KXAPI_E_INTERNAL);

    // Port of the attribute read is not required; AttributeId is.
    DemodMsg attr = DemodBuildGenericReq(DEMOD_CMD_GET_ATTRIBUTE, L"<AttributeId>3</AttributeId>");
    EXPECT_EQ(DemodOpenGenericRequest(attr.data(), attr.size(), doc), KXAPI_OK);
    attr = DemodBuildGenericReq(DEMOD_CMD_GET_ATTRIBUTE, L"<Port>1</Port>");
    EXPECT_EQ(DemodOpenGenericRequest(attr.data(), attr.size(), doc), KXAPI_E_INTERNAL);
    EXPECT_EQ(DemodGenericRequiredElems(DEMOD_CMD_CONTROL_GET), nullptr);
}
