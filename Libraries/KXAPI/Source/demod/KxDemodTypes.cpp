#include "KxDemodTypes.h"

#include "KxWire.h"

namespace Kxapi {

void KxTunePars::Encode(void* body, unsigned int offset) const
{
    for (int i = 0; i < NUM_WORDS; i++)
        KxPutI32(body, offset + 4 * static_cast<unsigned int>(i), m_Words[i]);
}

KxTunePars KxTunePars::Decode(const void* body, unsigned int offset)
{
    KxTunePars pars;
    for (int i = 0; i < NUM_WORDS; i++)
        pars.m_Words[i] = KxGetI32(body, offset + 4 * static_cast<unsigned int>(i));
    return pars;
}

void KxConstelPoint::Encode(void* body, unsigned int offset) const
{
    KxPutI32(body, offset, m_X);
    KxPutI32(body, offset + 4, m_Y);
}

KxConstelPoint KxConstelPoint::Decode(const void* body, unsigned int offset)
{
    return {KxGetI32(body, offset), KxGetI32(body, offset + 4)};
}

void KxTransmitter::Encode(void* body, unsigned int offset) const
{
    KxPutI64(body, offset, m_FreqHz);
    KxPutI32(body, offset + 8, m_ModType);
    KxPutI32(body, offset + 12, m_SymRateBd);
}

KxTransmitter KxTransmitter::Decode(const void* body, unsigned int offset)
{
    return {KxGetI64(body, offset), KxGetI32(body, offset + 8), KxGetI32(body, offset + 12)};
}

} // namespace Kxapi
