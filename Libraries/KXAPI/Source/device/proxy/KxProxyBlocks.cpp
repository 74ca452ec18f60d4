#include "KxProxyBlocks.h"

#include <cstring>

#include "KxBlockRequest.h"
#include "KxWire.h"

namespace {

// Sends a command with raw payload bytes and returns the whole answer.
KXAPI_RESULT SendBytes(XpDriver* driver, uint32_t instance, int port, uint32_t request, uint32_t command,
                       const std::vector<uint32_t>& words, const unsigned char* data, int length,
                       std::vector<unsigned char>& answer, uint32_t answerSize)
{
    if (driver == nullptr)
        return KXAPI_E_DEV_DRIVER;
    KxBlockRequest message(instance, port, command);
    for (uint32_t word : words)
        message.PutU32(word);
    if (data != nullptr && length > 0)
        message.PutBytes(data, static_cast<unsigned int>(length));
    return message.Send(*driver, request, answer, answerSize);
}

} // namespace

KXAPI_RESULT KxCheckOperationalMode(int mode, bool allowOne)
{
    return (mode == 0 || mode == 2 || (allowOne && mode == 1)) ? KXAPI_OK : KXAPI_E_INVALID_ARG;
}

#define KX_SEND(request, command, words, answer, answerWords) \
    Command(request, command, words, sizeof(words) / sizeof(uint32_t), answer, answerWords)

KXAPI_RESULT KxProxyI2CM::Write(int address, int length, const unsigned char* data)
{
    if (length < 0 || length > 512)
        return KXAPI_E_INVALID_SIZE;
    if (data == nullptr && length > 0)
        return KXAPI_E_INVALID_BUF;
    std::vector<unsigned char> answer;
    return SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_I2CM, 1,
                     {static_cast<uint32_t>(address), static_cast<uint32_t>(length)}, data, length, answer, 4);
}

KXAPI_RESULT KxProxyI2CM::WriteRead(int address, int writeLength, const unsigned char* writeData, int readLength,
                                    unsigned char* readBuffer, int& countRead)
{
    countRead = 0;
    if (writeLength < 0 || readLength < 0 || writeLength > 512 || readLength > 512)
        return KXAPI_E_INVALID_SIZE;
    if ((writeData == nullptr && writeLength > 0) || (readBuffer == nullptr && readLength > 0))
        return KXAPI_E_INVALID_BUF;
    std::vector<unsigned char> answer;
    KXAPI_RESULT result =
        SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_I2CM, 2,
                  {static_cast<uint32_t>(address), static_cast<uint32_t>(readLength),
                   static_cast<uint32_t>(writeLength)},
                  writeData, writeLength, answer, 4 + static_cast<uint32_t>(readLength));
    if (KxapiFailed(result))
        return result;
    uint32_t count = KxGetU32(answer.data(), 0);
    if (count > static_cast<uint32_t>(readLength))
        return KXAPI_E_OUTBUF_TOO_SMALL;
    memcpy(readBuffer, answer.data() + 4, count);
    countRead = static_cast<int>(count);
    return KXAPI_OK;
}

KXAPI_RESULT KxProxySPIM::GetProperties(int& maxTransfer)
{
    uint32_t answer = 0;
    KXAPI_RESULT result = Command(KX_REQ_SPIM, 0, nullptr, 0, &answer, 1);
    maxTransfer = static_cast<int>(answer);
    return result;
}

KXAPI_RESULT KxProxySPIM::Read(int length, unsigned char* buffer)
{
    return WriteRead(0, nullptr, length, buffer);
}

KXAPI_RESULT KxProxySPIM::Write(int length, const unsigned char* data)
{
    if (length < 0 || length > 512)
        return KXAPI_E_INVALID_SIZE;
    std::vector<unsigned char> answer;
    return SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_SPIM, 2, {static_cast<uint32_t>(length)}, data, length,
                     answer, 4);
}

KXAPI_RESULT KxProxySPIM::WriteRead(int writeLength, const unsigned char* writeData, int readLength,
                                    unsigned char* buffer)
{
    if (writeLength < 0 || readLength < 0 || writeLength > 512 || readLength > 512)
        return KXAPI_E_INVALID_SIZE;
    if (readLength > 0 && buffer == nullptr)
        return KXAPI_E_INVALID_BUF;
    std::vector<unsigned char> answer;
    uint32_t command = writeLength == 0 ? 1 : 3;
    std::vector<uint32_t> words = writeLength == 0
                                      ? std::vector<uint32_t>{static_cast<uint32_t>(readLength)}
                                      : std::vector<uint32_t>{static_cast<uint32_t>(writeLength),
                                                              static_cast<uint32_t>(readLength)};
    KXAPI_RESULT result = SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_SPIM, command, words, writeData,
                                    writeLength, answer, 4 + static_cast<uint32_t>(readLength));
    if (KxapiFailed(result))
        return result;
    uint32_t count = KxGetU32(answer.data(), 0);
    if (count > static_cast<uint32_t>(readLength))
        return KXAPI_E_OUTBUF_TOO_SMALL;
    memcpy(buffer, answer.data() + 4, count);
    return KXAPI_OK;
}

KXAPI_RESULT KxProxyLNBH25_3470::SendBurst(int burst)
{
    if (burst != 0 && burst != 1)
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(burst)};
    return KX_SEND(KX_REQ_LNBH25, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyLNBH25_3470::SendDiseqcMessage(const unsigned char* message, int length)
{
    if (message == nullptr)
        return KXAPI_E_INVALID_BUF;
    if (length < 1 || length > 64)
        return KXAPI_E_INVALID_ARG;
    std::vector<unsigned char> answer;
    return SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_LNBH25, 1, {static_cast<uint32_t>(length)}, message,
                     length, answer, 4);
}

KXAPI_RESULT KxProxyLNBH25_3470::SendDiseqcMessage(const unsigned char* message, int length, unsigned char* reply,
                                                   int& replyLength)
{
    if (message == nullptr || reply == nullptr)
        return KXAPI_E_INVALID_BUF;
    if (length < 1 || length > 64 || replyLength < 1 || replyLength > 64)
        return KXAPI_E_INVALID_ARG;
    std::vector<unsigned char> answer;
    KXAPI_RESULT result = SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_LNBH25, 2,
                                    {static_cast<uint32_t>(length), static_cast<uint32_t>(replyLength)}, message,
                                    length, answer, 4 + static_cast<uint32_t>(replyLength));
    if (KxapiFailed(result))
        return result;
    uint32_t count = KxGetU32(answer.data(), 0);
    if (count > static_cast<uint32_t>(replyLength))
        return KXAPI_E_OUTBUF_TOO_SMALL;
    memcpy(reply, answer.data() + 4, count);
    replyLength = static_cast<int>(count);
    return KXAPI_OK;
}

KXAPI_RESULT KxProxyLNBH25_3470::EnableTone(bool enable)
{
    uint32_t words[1] = {enable ? 1u : 0u};
    return KX_SEND(KX_REQ_LNBH25, 3, words, nullptr, 0);
}

KXAPI_RESULT KxProxyAD5320_3470::GetGainStatus(int& status, int& gain)
{
    uint32_t answer[2] = {};
    KXAPI_RESULT result = Command(KX_REQ_AD5320, 0, nullptr, 0, answer, 2);
    status = static_cast<int>(answer[0]);
    gain = static_cast<int>(answer[1]);
    return result;
}

KXAPI_RESULT KxProxyAD5320_3470::SetGainCtrlPars(int a, int b, int c, int d, int e)
{
    uint32_t words[5] = {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c),
                         static_cast<uint32_t>(d), static_cast<uint32_t>(e)};
    return KX_SEND(KX_REQ_AD5320, 1, words, nullptr, 0);
}

KXAPI_RESULT KxProxyAD5320_3470::SetOperationalMode(int mode)
{
    if (KxapiFailed(KxCheckOperationalMode(mode)))
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_AD5320, 2, words, nullptr, 0);
}

KXAPI_RESULT KxProxyADS4246_3470::SetOperationalMode(int mode)
{
    if (KxapiFailed(KxCheckOperationalMode(mode)))
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_ADS4246, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyIQFIR_3470::GetConfig(int& numTaps, int& coefBits)
{
    uint32_t answer[2] = {};
    KXAPI_RESULT result = Command(KX_REQ_IQFIR, 0, nullptr, 0, answer, 2);
    numTaps = static_cast<int>(answer[0]);
    coefBits = static_cast<int>(answer[1]);
    return result;
}

KXAPI_RESULT KxProxyIQFIR_3470::SetCoefficients(const std::vector<int>& coefficients)
{
    if (coefficients.empty() || coefficients.size() > 1024)
        return KXAPI_E_INVALID_ARG;
    std::vector<uint32_t> words{static_cast<uint32_t>(coefficients.size())};
    for (int c : coefficients)
        words.push_back(static_cast<uint32_t>(c));
    return Command(KX_REQ_IQFIR, 1, words.data(), static_cast<unsigned int>(words.size()), nullptr, 0);
}

KXAPI_RESULT KxProxyIQFIR_3470::GetCoefficients(int count, std::vector<int>& coefficients)
{
    coefficients.clear();
    if (count < 0 || count > 1024)
        return KXAPI_E_INVALID_ARG;
    uint32_t word = static_cast<uint32_t>(count);
    std::vector<uint32_t> answer(1 + static_cast<size_t>(count));
    KXAPI_RESULT result = Command(KX_REQ_IQFIR, 2, &word, 1, answer.data(), static_cast<unsigned int>(answer.size()));
    if (KxapiFailed(result))
        return result;
    if (answer[0] > static_cast<uint32_t>(count))
        return KXAPI_E_OUTBUF_TOO_SMALL;
    for (uint32_t i = 0; i < answer[0]; i++)
        coefficients.push_back(static_cast<int>(answer[1 + i]));
    return result;
}

KXAPI_RESULT KxProxyIQPWR_3470::SetEstWindow(int window)
{
    uint32_t words[1] = {static_cast<uint32_t>(window)};
    return KX_SEND(KX_REQ_IQPWR, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyIQPWR_3470::GetEstPower(uint32_t& power)
{
    power = 0;
    return Command(KX_REQ_IQPWR, 1, nullptr, 0, &power, 1);
}

KXAPI_RESULT KxProxyIQSRC3470_3470::SetDivisionFactor(int factor)
{
    uint32_t words[1] = {static_cast<uint32_t>(factor)};
    return KX_SEND(KX_REQ_IQSRC, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyIQSRC3470_3470::GetDivisionFactor(int& factor)
{
    uint32_t answer = 0;
    KXAPI_RESULT result = Command(KX_REQ_IQSRC, 1, nullptr, 0, &answer, 1);
    factor = static_cast<int>(answer);
    return result;
}

KXAPI_RESULT KxProxyIQCGRAB_3470::GetIqConstPoints(int first, int n, std::vector<KxIqPoint>& points)
{
    if (n < 0 || n > MAX_POINTS)
        return KXAPI_E_INVALID_ARG;
    std::vector<unsigned char> answer;
    KXAPI_RESULT result = SendBytes(m_pDriver, m_InstanceId, m_Port, KX_REQ_IQCGRAB, 0,
                                    {static_cast<uint32_t>(first), static_cast<uint32_t>(n)}, nullptr, 0, answer,
                                    4 + 4 * static_cast<uint32_t>(n));
    if (KxapiFailed(result))
        return result;
    points.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        points[i].m_I = static_cast<int16_t>(answer[4 + 4 * i] | (answer[5 + 4 * i] << 8));
        points[i].m_Q = static_cast<int16_t>(answer[6 + 4 * i] | (answer[7 + 4 * i] << 8));
    }
    return result;
}

KXAPI_RESULT KxProxyS2STATS_3470::SetOperationalMode(int mode)
{
    if (KxapiFailed(KxCheckOperationalMode(mode)))
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_S2STATS, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyS2STATS_3470::ClearStatistics()
{
    return Command(KX_REQ_S2STATS, 1, nullptr, 0, nullptr, 0);
}

KXAPI_RESULT KxProxyS2STATS_3470::GetStatisticsStatus(int& numFrames, int& numLost, bool& overflow)
{
    uint32_t answer[3] = {};
    KXAPI_RESULT result = Command(KX_REQ_S2STATS, 2, nullptr, 0, answer, 3);
    numFrames = static_cast<int>(answer[0]);
    numLost = static_cast<int>(answer[1]);
    overflow = answer[2] != 0;
    return result;
}

KXAPI_RESULT KxProxyS2STATS_3470::ReadStatistics(std::vector<S2FrameStatus>& frames)
{
    frames.clear();
    uint32_t max = MAX_FRAMES;
    std::vector<uint32_t> answer(1 + 4 * MAX_FRAMES);
    KXAPI_RESULT result = Command(KX_REQ_S2STATS, 3, &max, 1, answer.data(), static_cast<unsigned int>(answer.size()));
    if (KxapiFailed(result))
        return result;
    if (answer[0] > MAX_FRAMES)
        return KXAPI_E_DEV_DRIVER;
    for (uint32_t i = 0; i < answer[0]; i++)
        frames.push_back({answer[1 + 4 * i], answer[2 + 4 * i], answer[3 + 4 * i], answer[4 + 4 * i]});
    return result;
}

KXAPI_RESULT KxProxyDATASTMUX_3470::SetSelection(int input)
{
    uint32_t words[1] = {static_cast<uint32_t>(input)};
    return KX_SEND(KX_REQ_DATASTMUX, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyBURSTFIFO::SetOperationalMode(int mode)
{
    if (KxapiFailed(KxCheckOperationalMode(mode)))
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_BURSTFIFO, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyBURSTFIFO::GetOverUnderflowCount(uint32_t& count)
{
    count = 0;
    return Command(KX_REQ_BURSTFIFO, 1, nullptr, 0, &count, 1);
}

KXAPI_RESULT KxProxyCDMAC::SetOperationalMode(int mode)
{
    if (KxapiFailed(KxCheckOperationalMode(mode)))
        return KXAPI_E_INVALID_ARG;
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_CDMAC, 10, words, nullptr, 0);
}

KXAPI_RESULT KxProxyCDMAC::AllocateBuffer(void* buffer, uint32_t size, int direction)
{
    if (direction != 0 && direction != 1)
        return KXAPI_E_INVALID_ARG;
    uint64_t address = reinterpret_cast<uintptr_t>(buffer);
    uint32_t words[4] = {static_cast<uint32_t>(direction), size, static_cast<uint32_t>(address),
                         static_cast<uint32_t>(address >> 32)};
    return KX_SEND(KX_REQ_CDMAC, 0, words, nullptr, 0);
}

KXAPI_RESULT KxProxyCDMAC::FreeBuffer(int direction)
{
    uint32_t words[1] = {static_cast<uint32_t>(direction)};
    return KX_SEND(KX_REQ_CDMAC, 1, words, nullptr, 0);
}

KXAPI_RESULT KxProxyCDMAC::GetProperties(uint32_t& capabilities, uint32_t& granularity)
{
    uint32_t answer[2] = {};
    KXAPI_RESULT result = Command(KX_REQ_CDMAC, 2, nullptr, 0, answer, 2);
    capabilities = answer[0];
    granularity = answer[1];
    return result;
}

KXAPI_RESULT KxProxyCDMAC::GetRxWriteOffset(uint32_t& offset)
{
    offset = 0;
    return Command(KX_REQ_CDMAC, 3, nullptr, 0, &offset, 1);
}

KXAPI_RESULT KxProxyCDMAC::SetRxReadOffset(uint32_t offset)
{
    uint32_t words[1] = {offset};
    return KX_SEND(KX_REQ_CDMAC, 4, words, nullptr, 0);
}

KXAPI_RESULT KxProxyCDMAC::SetTestMode(int mode)
{
    uint32_t words[1] = {static_cast<uint32_t>(mode)};
    return KX_SEND(KX_REQ_CDMAC, 5, words, nullptr, 0);
}

KXAPI_RESULT KxProxyCDMAC::IssueChannelFlush()
{
    return Command(KX_REQ_CDMAC, 6, nullptr, 0, nullptr, 0);
}
