// Driver status words a virtual node answers with (negated from IoCtl).
#pragma once

#include <cstdint>

constexpr uint32_t SIM_STATUS_INVALID_ARG = 0x10004;
constexpr uint32_t SIM_STATUS_NOT_SUPPORTED = 0x10005;
constexpr uint32_t SIM_STATUS_NOT_FOUND = 0x10006;
constexpr uint32_t SIM_STATUS_TIMEOUT = 0x10007;
constexpr uint32_t SIM_STATUS_IN_USE = 0x1000A;
constexpr uint32_t SIM_STATUS_DEV_DRIVER = 0x1000D;
constexpr uint32_t SIM_STATUS_BUF_TOO_SMALL = 0x10014;
constexpr uint32_t SIM_STATUS_NO_POWER = 0x10017;
