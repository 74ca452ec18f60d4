// The block proxies the receiver layers use. Request words are fixed per proxy type; the
// command codes not given by the driver interface are this library's (listed per class), and
// the virtual blocks decode the same.
#pragma once

#include <cstdint>
#include <vector>

#include "KxProxy.h"

// Constellation point as grabbed from the demodulator (raw signed 16-bit I and Q).
struct KxIqPoint {
    int m_I;
    int m_Q;
};

struct S2FrameStatus {
    uint32_t m_PlsCode;
    uint32_t m_Flags;
    uint32_t m_ErrorCount;
    uint32_t m_FrameCount;
};

constexpr uint32_t KX_REQ_I2CM = 0xC01CCD6A, KX_REQ_SPIM = 0xC018CD77, KX_REQ_LNBH25 = 0xC018CD87,
                   KX_REQ_AD5320 = 0xC024CD7F, KX_REQ_ADS4246 = 0xC014CD7E, KX_REQ_IQFIR = 0xC014CD83,
                   KX_REQ_IQPWR = 0xC014CD84, KX_REQ_IQSRC = 0xC018CD85, KX_REQ_IQCGRAB = 0xC018CD82,
                   KX_REQ_S2STATS = 0xC014CD80, KX_REQ_S2CRDEMOD = 0xC01CCD81, KX_REQ_BURSTFIFO = 0xC018CD8E,
                   KX_REQ_CDMAC = 0xC020CD66, KX_REQ_DATASTMUX = 0xC014CD86 /* agreed */;

// Write 1 {address, length, data}; WriteRead 2 {address, read length, write length, data} ->
// {count, data}.
class KxProxyI2CM : public KxProxyBase<KX_PROXY_I2CM> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT Write(int address, int length, const unsigned char* data);
    KXAPI_RESULT WriteRead(int address, int writeLength, const unsigned char* writeData, int readLength,
                           unsigned char* readBuffer, int& countRead);
};

// GetProperties 0 -> {max transfer}; Read 1 {length} -> {count, data}; Write 2 {length, data};
// WriteRead 3 {write length, read length, data} -> {count, data}.
class KxProxySPIM : public KxProxyBase<KX_PROXY_SPIM> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT GetProperties(int& maxTransfer);
    KXAPI_RESULT Read(int length, unsigned char* buffer);
    KXAPI_RESULT Write(int length, const unsigned char* data);
    KXAPI_RESULT WriteRead(int writeLength, const unsigned char* writeData, int readLength, unsigned char* buffer);
};

class KxProxyLNBH25_3470 : public KxProxyBase<KX_PROXY_LNBH25_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SendBurst(int burst);
    KXAPI_RESULT SendDiseqcMessage(const unsigned char* message, int length);
    KXAPI_RESULT SendDiseqcMessage(const unsigned char* message, int length, unsigned char* reply, int& replyLength);
    KXAPI_RESULT EnableTone(bool enable);
};

// GetGainStatus 0 -> {status, gain}; SetGainCtrlPars 1 {five values}; SetOperationalMode 2.
class KxProxyAD5320_3470 : public KxProxyBase<KX_PROXY_AD5320_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT GetGainStatus(int& status, int& gain);
    KXAPI_RESULT SetGainCtrlPars(int a, int b, int c, int d, int e);
    KXAPI_RESULT SetOperationalMode(int mode);
};

// SetOperationalMode 0.
class KxProxyADS4246_3470 : public KxProxyBase<KX_PROXY_ADS4246_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetOperationalMode(int mode);
};

// GetConfig 0 -> {taps, bits}; SetCoefficients 1 {n, coefficients}; GetCoefficients 2 {n} -> {n, ...}.
class KxProxyIQFIR_3470 : public KxProxyBase<KX_PROXY_IQFIR_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT GetConfig(int& numTaps, int& coefBits);
    KXAPI_RESULT SetCoefficients(const std::vector<int>& coefficients);
    KXAPI_RESULT GetCoefficients(int count, std::vector<int>& coefficients);
};

// SetEstWindow 0 {window}; GetEstPower 1 -> {power}.
class KxProxyIQPWR_3470 : public KxProxyBase<KX_PROXY_IQPWR_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetEstWindow(int window);
    KXAPI_RESULT GetEstPower(uint32_t& power);
};

// SetDivisionFactor 0 {factor}; GetDivisionFactor 1 -> {factor}.
class KxProxyIQSRC3470_3470 : public KxProxyBase<KX_PROXY_IQSRC3470_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetDivisionFactor(int factor);
    KXAPI_RESULT GetDivisionFactor(int& factor);
};

class KxProxyIQCGRAB_3470 : public KxProxyBase<KX_PROXY_IQCGRAB_3470> {
public:
    using KxProxyBase::KxProxyBase;
    static constexpr int MAX_POINTS = 4096;
    KXAPI_RESULT GetIqConstPoints(int first, int n, std::vector<KxIqPoint>& points);
};

// SetOperationalMode 0; ClearStatistics 1; GetStatisticsStatus 2 -> {a, b, flag};
// ReadStatistics 3 {max} -> {count, count frames of 4 words}.
class KxProxyS2STATS_3470 : public KxProxyBase<KX_PROXY_S2STATS_3470> {
public:
    using KxProxyBase::KxProxyBase;
    static constexpr int MAX_FRAMES = 256;
    KXAPI_RESULT SetOperationalMode(int mode);
    KXAPI_RESULT ClearStatistics();
    KXAPI_RESULT GetStatisticsStatus(int& numFrames, int& numLost, bool& overflow);
    KXAPI_RESULT ReadStatistics(std::vector<S2FrameStatus>& frames);
};

// SetSelection 0 {input}.
class KxProxyDATASTMUX_3470 : public KxProxyBase<KX_PROXY_DATASTMUX_3470> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetSelection(int input);
};

// SetOperationalMode 0; GetOverUnderflowCount 1 -> {count}.
class KxProxyBURSTFIFO : public KxProxyBase<KX_PROXY_BURSTFIFO> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetOperationalMode(int mode);
    KXAPI_RESULT GetOverUnderflowCount(uint32_t& count);
};

// AllocateBuffer 0 {direction, size, u64 address}; FreeBuffer 1 {direction}; GetProperties 2 ->
// {capabilities (bit 0 receive), granularity}; GetRxWriteOffset 3 -> {offset}; SetRxReadOffset 4
// {offset}; SetTestMode 5 {mode}; IssueChannelFlush 6; SetOperationalMode 10 {mode}.
class KxProxyCDMAC : public KxProxyBase<KX_PROXY_CDMAC> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT SetOperationalMode(int mode);
    KXAPI_RESULT AllocateBuffer(void* buffer, uint32_t size, int direction);
    KXAPI_RESULT FreeBuffer(int direction);
    KXAPI_RESULT GetProperties(uint32_t& capabilities, uint32_t& granularity);
    KXAPI_RESULT GetRxWriteOffset(uint32_t& offset);
    KXAPI_RESULT SetRxReadOffset(uint32_t offset);
    KXAPI_RESULT SetTestMode(int mode);
    KXAPI_RESULT IssueChannelFlush();
};

// Shared by the blocks: operational modes 0, 1, 2 unless a block narrows them.
KXAPI_RESULT KxCheckOperationalMode(int mode, bool allowOne = true);
