// NewDemodHal: one row per receiver model. A row without a constructor is a model whose HAL is
// not part of this build; it gets an UnavailableHal.
#include <new>

#include "DemodHal.h"
#include "Kxa3460Hal.h"
#include "UnavailableHal.h"

using namespace Kxapi;

namespace {

using HalMaker = DemodHal* (*)(long long serial, KxDeviceInt& device);

template <typename Hal> DemodHal* MakeHal(long long serial, KxDeviceInt& device)
{
    return new (std::nothrow) Hal(serial, device);
}

struct HalModelRow {
    int m_TypeNumber;
    int m_SubType; // -1: any sub-type not matched by an earlier row
    const char* m_pClassName;
    int m_NumPorts;
    HalMaker m_pMake; // null: not available in this build
};

const HalModelRow HAL_MODELS[] = {
    {810, -1, "Kxu810Hal", 1, nullptr},
    {820, -1, "Kxu820Hal", 1, nullptr},
    {830, -1, "Kxu830Hal", 1, nullptr},
    {850, -1, "Kxu850Hal", 1, nullptr},
    {3460, -1, "Kxa3460Hal", 1, MakeHal<Kxa3460Hal>},
    {3470, -1, "Kxa3470Hal", 2, nullptr},
    {3480, -1, "Kxa3480Hal", 2, nullptr},
    {3490, -1, "Kxa3490Hal", 2, nullptr},
    {3510, -1, "Kxa3510Hal", 2, nullptr},
    {3520, -1, "Kxa3520Hal", 1, nullptr},
    {3530, 2, "Kxa3530BHal", 12, nullptr},
    {3530, 3, "Kxa3530CHal", 12, nullptr},
    {3530, -1, "Kx3530Hal", 12, nullptr},
};

} // namespace

DemodHal* NewDemodHal(int typeNumber, int subType, long long serial, KxDeviceInt& device)
{
    for (const HalModelRow& row : HAL_MODELS) {
        if (row.m_TypeNumber != typeNumber || (row.m_SubType != -1 && row.m_SubType != subType))
            continue;
        if (row.m_pMake != nullptr)
            return row.m_pMake(serial, device);
        return new (std::nothrow) UnavailableHal(serial, device, typeNumber, row.m_pClassName, row.m_NumPorts);
    }
    return nullptr;
}
