// Cost of device access through the whole stack (device object or register proxy, request
// packing, virtual node decoding, card model) against the virtual node called directly with
// the same request bytes. Compare the pairs as ratios within one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "KxAf.h"
#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "KxDriverRequests.h"
#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"
#include "KxWire.h"
#include "SimEnvironment.h"
#include "SimVirtualNode.h"

using namespace Kxapi;

namespace {

constexpr int64_t SERIAL_3490 = 3490000001;
constexpr int64_t SERIAL_3470 = 3470000001;

SimEnvironment& Environment()
{
    static SimEnvironment* pEnvironment = [] {
        auto* p = new SimEnvironment();
        std::string error;
        p->Load(nullptr, error);
        p->Rack().Find(SERIAL_3490)->AddI2cDevice(-1, 0xC0, new SimI2cRegisterFile(256));
        return p;
    }();
    return *pEnvironment;
}

// One I2C write-read (1 byte out, 4 bytes back) through KxDeviceInt on a legacy PCIe card.
void BM_I2cWriteReadThroughDevice(benchmark::State& state)
{
    Environment();
    KxDeviceInt device;
    if (device.AttachToSerial(SERIAL_3490) != KXAPI_OK) {
        state.SkipWithError("attach failed");
        return;
    }
    const unsigned char pointer = 0x10;
    unsigned char read[4];
    for (auto _ : state) {
        KXAPI_RESULT result = device.I2CWriteRead(0xC0, &pointer, 1, 0xC0, read, sizeof(read));
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(read);
    }
}
BENCHMARK(BM_I2cWriteReadThroughDevice);

// The same write-read record handed straight to the virtual node (the floor of the stack).
void BM_I2cWriteReadAtNode(benchmark::State& state)
{
    SimVirtualNode node(Environment().Rack().Find(SERIAL_3490));
    std::vector<unsigned char> buffer(KX_I2C_OUTPUT_SIZE);
    for (auto _ : state) {
        KxPutU32(buffer.data(), 0, KX_I2C_CMD_WRITE_READ);
        KxPutI32(buffer.data(), 4, -1);
        KxPutU32(buffer.data(), 8, 0xC0);
        KxPutU32(buffer.data(), 12, 0xC1);
        KxPutU32(buffer.data(), 16, 1);
        KxPutU32(buffer.data(), 20, 4);
        buffer[24] = 0x10;
        int rc = node.IoCtl(KXA_REQ_I2C, buffer.data(), static_cast<uint32_t>(buffer.size()));
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_I2cWriteReadAtNode);

// One block-driver command (demodulator status) through KxAf and the register proxy.
void BM_BlockCommandThroughProxy(benchmark::State& state)
{
    Environment();
    KxDeviceInt device;
    KxAf af;
    KxProxyS2CRDEMOD_3470* pDemod = nullptr;
    if (device.AttachToSerial(SERIAL_3470) != KXAPI_OK ||
        af.Init(AF_DEMODCHANNEL, device.Backend()->Core(), 0) != KXAPI_OK || af.GetProxy(pDemod) != KXAPI_OK) {
        state.SkipWithError("proxy look-up failed");
        return;
    }
    bool a, b, c;
    uint32_t word = 0;
    for (auto _ : state) {
        KXAPI_RESULT result = pDemod->GetStatus(a, b, c, word);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_BlockCommandThroughProxy);

// The same command's bytes (size header, block header) handed straight to the virtual node.
void BM_BlockCommandAtNode(benchmark::State& state)
{
    auto card = Environment().Rack().Find(SERIAL_3470);
    SimBlock block;
    uint32_t uuid = 0;
    for (uint32_t candidate = 1000; candidate < 1100 && uuid == 0; candidate++) {
        if (card->FindBlock(candidate, block) && block.m_Name == "DF_S2CRDEMOD_0")
            uuid = candidate;
    }
    SimVirtualNode node(card);
    unsigned char buffer[8 + KX_BLOCK_HEADER_SIZE + 16];
    for (auto _ : state) {
        KxPutU32(buffer, 0, KX_BLOCK_HEADER_SIZE);
        KxPutU32(buffer, 4, 16);
        KxPutU32(buffer, 8, uuid);
        KxPutI32(buffer, 12, 0);
        KxPutU32(buffer, 16, 4);
        KxPutI32(buffer, 20, -1);
        int rc = node.IoCtl(KX_REQ_S2CRDEMOD, buffer, sizeof(buffer));
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_BlockCommandAtNode);

} // namespace

BENCHMARK_MAIN();
