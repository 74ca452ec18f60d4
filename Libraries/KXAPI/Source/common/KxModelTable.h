// The receiver models this system knows, in one table: type number and sub-type, display name,
// HAL class, number of receiver ports, driver family, and the driver type codes (block-driver
// cards) the model's tree is built from. Everything that needs one of these facts (the HAL
// factory, the virtual cards, kxctl) reads it here; adding a model starts with one row.
#pragma once

#include <span>

#include "KxDriverRequests.h"
#include "XpDriverNode.h"

constexpr int KX_MODEL_ANY_SUBTYPE = -1;

// One driver type code a model uses, with the instance prefix it appears under ("BC_I2CM").
struct KxModelDriverCode {
    KxDriverTypeCode m_Code;
    bool m_Function; // a driver function ("DF_"), otherwise a block ("BC_")
    const char* m_pName;
};

struct KxModelInfo {
    int m_TypeNumber;
    int m_SubType;            // KX_MODEL_ANY_SUBTYPE: any sub-type not matched by an earlier row
    const char* m_pName;      // display name ("KX-3460")
    const char* m_pHalClass;  // HAL class name ("Kxa3460Hal")
    int m_NumPorts;           // receiver ports, numbered 1..m_NumPorts at the HAL
    KxDriverFamily m_Family;
    std::span<const KxModelDriverCode> m_DriverCodes; // empty: not a block-driver model
};

// Every row, in lookup order (specific sub-types before the row for any sub-type).
std::span<const KxModelInfo> KxModelTable();
// The row of (typeNumber, subType); null for a type number that is not a receiver.
const KxModelInfo* KxFindModel(int typeNumber, int subType);
