#include "SimI2cDevice.h"

bool SimI2cRegisterFile::Write(const unsigned char* pData, int length)
{
    if (length <= 0)
        return true;
    m_Pointer = pData[0] % m_Memory.size();
    for (int i = 1; i < length; i++) {
        m_Memory[m_Pointer] = pData[i];
        m_Pointer = (m_Pointer + 1) % m_Memory.size();
    }
    return true;
}

bool SimI2cRegisterFile::Read(unsigned char* pData, int length)
{
    for (int i = 0; i < length; i++) {
        pData[i] = m_Memory[m_Pointer];
        m_Pointer = (m_Pointer + 1) % m_Memory.size();
    }
    return true;
}
