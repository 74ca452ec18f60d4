// The port-command property table, in the order the protocol defines.
#include "DemodSvcProtocol.h"

namespace Kxapi {

// Columns: code, queued, waitDone, suspendsStats, scanClass, minSize.
const DemodCmdProperties CommandProperties[] = {
    {3, false, false, false, 0, 4},   {26, false, false, false, 0, 272}, {27, true, false, true, 1, 32},
    {37, true, false, true, 1, 4},    {39, false, false, false, 0, 4},   {41, false, false, false, 0, 4},
    {5, true, true, false, 0, 8},     {6, false, false, false, 0, 4},    {35, false, false, false, 0, 4},
    {11, false, false, false, 0, 4},  {13, false, false, false, 0, 4},   {45, false, false, false, 0, 4},
    {25, true, false, false, 2, 8},   {32, true, false, false, 0, 12},   {12, true, true, false, 0, 40},
    {14, true, false, true, 2, 16},   {46, true, false, true, 0, 4},     {47, true, false, false, 2, 8},
    {15, true, false, true, 2, 20},   {36, true, false, true, 2, 4},     {40, true, false, true, 2, 4},
    {42, true, false, true, 2, 4},    {16, true, true, false, 2, 8},     {17, true, true, false, 2, 8},
    {18, true, true, false, 2, 8},    {24, true, true, true, 1, 32},     {50, true, false, true, 1, 4},
    {51, false, false, false, 1, 4},  {52, true, false, false, 2, 4},    {53, false, false, false, 2, 4},
    {19, true, true, false, 0, 8},    {20, true, true, false, 0, 12},    {38, false, false, false, 0, 4},
    {49, false, false, false, 0, 4},  {31, false, false, false, 0, 8},   {34, true, false, false, 2, 8},
    {43, true, true, false, 2, 4},    {57, true, false, false, 0, 4},    {58, true, false, false, 0, 4},
    {59, false, false, false, 0, 4},  {7, false, false, false, 0, 4},    {8, false, false, false, 0, 8},
    {9, false, false, false, 0, 12},  {10, false, false, false, 0, 12},  {30, false, false, false, 0, 8},
    {54, false, false, false, 0, 4},  {55, false, false, false, 0, 4},   {56, true, true, false, 0, 4},
};
const size_t CommandPropertiesCount = sizeof(CommandProperties) / sizeof(CommandProperties[0]);

const DemodCmdProperties* DemodFindCmdProperties(uint32_t cmd)
{
    for (size_t i = 0; i < CommandPropertiesCount; i++)
        if (CommandProperties[i].m_Cmd == cmd)
            return &CommandProperties[i];
    return nullptr;
}

} // namespace Kxapi
