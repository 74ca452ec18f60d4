// The three library clients share one service connection: each serves again after the
// service restarted under it.
#include <gtest/gtest.h>

#include <functional>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "KxGlobalSvcClient.h"
#include "KxeSvcClient.h"

namespace demodclient {
namespace {

TEST_F(DemodClientTest, EveryClientFailsOneRequestAfterAServiceRestartAndThenServesAgain)
{
    Kxapi::DemodPortClient demod;
    KxeSvcClient network;
    KxGlobalSvcClient global;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(demod));
    ASSERT_EQ(KXAPI_OK, network.Open());
    ASSERT_EQ(KXAPI_OK, global.Open());
    struct Row {
        const char* m_Name;
        std::function<KXAPI_RESULT()> m_Request;
        KXAPI_RESULT m_Broken; // the result of the request that meets the old connection
    };
    const Row rows[] = {
        {"demod", [&] { uint32_t version[4]; return demod.Svc().ServiceVersion(version); }, KXAPI_E_INTERNAL},
        {"network", [&] { KxServiceVersion version; return network.GetServiceVersion(version); },
         KXAPI_E_CONNECT_TO_SERVICE},
        {"global", [&] { KxServiceVersion version; return global.GetServiceVersion(version); },
         KXAPI_E_CONNECT_TO_SERVICE},
    };
    for (const Row& row : rows)
        EXPECT_EQ(KXAPI_OK, row.m_Request()) << row.m_Name;

    m_Service.Stop();
    ASSERT_TRUE(m_Service.Start()) << m_Service.Log();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.m_Name);
        EXPECT_EQ(row.m_Broken, row.m_Request());
        EXPECT_EQ(KXAPI_OK, row.m_Request());
        EXPECT_EQ(KXAPI_OK, row.m_Request());
    }
    // The demod client connected again at once after its failed transfer, and only then.
    EXPECT_EQ(1, demod.ReconnectCount());
}

} // namespace
} // namespace demodclient
