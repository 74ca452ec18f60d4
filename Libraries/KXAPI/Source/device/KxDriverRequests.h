// Request words and record layouts of the three driver families. Both sides of the driver-node
// seam use these: the device access layer builds the records, the virtual nodes decode them.
//
// The words marked "agreed" are this library's choice for operations whose layout the drivers
// leave open; the virtual nodes decode exactly these.
#pragma once

#include <cstdint>

// PCIe, legacy driver.
constexpr uint32_t KXA_REQ_DEVICE_INFO = 0xC0BCBC01;  // agreed: device information record
constexpr uint32_t KXA_REQ_VPD_READ = 0xC210BC11;     // agreed: VPD item read
constexpr uint32_t KXA_REQ_TABLE = 0xC060BC80;
constexpr uint32_t KXA_REQ_PROPERTY = 0xC058BB7E;
constexpr uint32_t KXA_REQ_I2C = 0xC218BB54;
constexpr uint32_t KXA_REQ_EVENT_WAIT = 0x800CBB57;
constexpr uint32_t KXA_REGISTER_WINDOW_SIZE = 0x10000; // mapped register window (32-bit words)
// USB.
constexpr uint32_t KXU_REQ_DEVICE_INFO = 0xC0BCAF01;  // agreed
constexpr uint32_t KXU_REQ_VPD_READ = 0xC210AF11;     // agreed
constexpr uint32_t KXU_REQ_TABLE = 0xC058AF70;
constexpr uint32_t KXU_REQ_PROPERTY = 0xC058AF7E;     // agreed
constexpr uint32_t KXU_REQ_I2C = 0xC210AE54;
constexpr uint32_t KXU_REQ_REG_READ = 0xC004AE58;
constexpr uint32_t KXU_REQ_REG_WRITE = 0x4008AE59;    // agreed: {address, value}, no output
constexpr uint32_t KXU_REQ_EVENT_WAIT = 0x800CAE55;
// PCIe, block driver. Every request begins with the 16-byte block header
// {instance id, port index, command, -1}; the core's instance id is 0.
constexpr uint32_t KXP_REQ_DEVICE_INFO = 0xC0BCCD60;  // agreed: header with command 0
constexpr uint32_t KXP_REQ_PROPS = 0xC070CD6E;
constexpr uint32_t KXP_REQ_EXCL_ACCESS = 0xC010CD69;
constexpr uint32_t KXP_REQ_TOD = 0xC018CD7B;
constexpr uint32_t KXP_REQ_DEBUG = 0xC014CD6C;        // agreed: register debug access
constexpr uint32_t KXP_REQ_EVENT_WAIT = 0xC020CC68;   // header only (no size header), 12-byte answer

// Commands of the core's property sub-proxy (KXP_REQ_PROPS); the name record follows the header.
constexpr uint32_t KXP_PROPS_CMD_GET = 0;        // name record in, property answer out
constexpr uint32_t KXP_PROPS_CMD_TABLE = 1;      // name record in, table answer out
constexpr uint32_t KXP_PROPS_CMD_VPD = 2;        // VPD record in, VPD answer out
// Commands of the core's debug sub-proxy (KXP_REQ_DEBUG).
constexpr uint32_t KXP_DEBUG_CMD_REG_READ = 0;   // {address} -> {value}
constexpr uint32_t KXP_DEBUG_CMD_REG_WRITE = 1;  // {address, value}

constexpr unsigned int KX_BLOCK_HEADER_SIZE = 16;
constexpr unsigned int KX_EVENT_RECORD_SIZE = 12; // {kind, value, value2}

// Library version words carried by property and table requests.
constexpr uint32_t KX_LIB_VERSION_MAJOR = 5, KX_LIB_VERSION_MINOR = 46, KX_LIB_VERSION_PATCH = 0;

// Property and table request ("name record", 84 bytes; all families; for the block driver after
// the header): 0 i32 port index (-1: device level), 4..11 zero, 12 u32 scope (0),
// 16..65 name with NUL (50 bytes), 68 u32 capacity (tables; 0 for properties),
// 72 u32 5, 76 u32 46, 80 u32 0.
constexpr unsigned int KX_NAMEREC_NAME_OFFSET = 16;
constexpr unsigned int KX_NAMEREC_NAME_SIZE = 50;
constexpr unsigned int KX_NAMEREC_CAPACITY_OFFSET = 68;
constexpr unsigned int KX_NAMEREC_SIZE = 84;
// Property answer (80 bytes): 0 u32 value type (1 integer, 2 string), 4 u32 string length,
// 8 i64 value or the string bytes. Unknown property: status KXAPI_E_NOT_FOUND.
constexpr unsigned int KX_PROPERTY_ANSWER_SIZE = 80;
constexpr uint32_t KX_PROPERTY_TYPE_INT = 1, KX_PROPERTY_TYPE_STRING = 2;
// Table answer: {u32 count, u32 0, entries of 16 bytes {i64 X, i64 Y}}. When count exceeds the
// record's capacity only the count is written. Unknown table: status KXAPI_E_NOT_FOUND.
constexpr unsigned int KX_TABLE_ENTRY_SIZE = 16;
// Device information answer (40 bytes, no input besides headers): 0 u32 type number,
// 4 u32 sub-type, 8 i64 serial, 16 u32 firmware version, 20 u32 firmware status
// (0 ok, 1 tainted, 2 obsolete), 24..39 driver version major, minor, micro, build.
constexpr unsigned int KX_DEVICE_INFO_SIZE = 40;
// VPD read: in {i32 port, char keyword[4]} (block driver: after the header); out {u32 length,
// up to 512 bytes}. Unknown item: status KXAPI_E_NOT_FOUND.
constexpr unsigned int KX_VPD_MAX = 512;
// I2C command records (32-bit words): lock {1, port, timeout}; unlock {2, port};
// read {3, port, (addr & 0xFFE) | 1, length}; write {4, port, addr & 0xFFE, length, data};
// write-read {5, port, write addr & 0xFFE, (read addr & 0xFFE) | 1, write length, read length,
// write data}. Read data comes back after one leading 32-bit word of a 516-byte output.
// The port word carries the bus number when the port is -1 and a bus is given.
constexpr uint32_t KX_I2C_CMD_LOCK = 1, KX_I2C_CMD_UNLOCK = 2, KX_I2C_CMD_READ = 3, KX_I2C_CMD_WRITE = 4,
                   KX_I2C_CMD_WRITE_READ = 5;
constexpr int KX_I2C_MAX_TRANSFER = 512;
constexpr unsigned int KX_I2C_OUTPUT_SIZE = 516;

// Driver type codes of the block driver's tree: blocks ("BC_" instances) and driver functions
// ("DF_" instances). The two kinds are numbered apart, so a block and a function may share a
// code (the 3470's I/Q power block and its satellite demodulator function are both 347007).
enum KxDriverTypeCode : int {
    KX_BC_CDMAC = 4,             // receive DMA channel
    KX_BC_I2CM = 8,              // I2C master
    KX_BC_SPIM = 22,             // SPI master
    KX_BC_BURSTFIFO = 32,        // burst FIFO
    KX_BC_IQPWR_3470 = 347007,   // I/Q power meter
    KX_DF_AD5320_3470 = 347001,  // DAC
    KX_DF_ADS4246_3470 = 347002, // ADC
    KX_DF_LNBH25_3470 = 347003,  // LNB supply
    KX_DF_S2STATS_3470 = 347004, // satellite demodulator statistics
    KX_DF_IQFIR_3470 = 347005,   // I/Q filter
    KX_DF_IQCGRAB_3470 = 347006, // constellation grabber
    KX_DF_S2CRDEMOD_3470 = 347007, // satellite demodulator
    KX_DF_IQSRC3470_3470 = 347010, // I/Q sample-rate converter
    KX_DF_DATASTMUX_3470 = 347011, // data stream multiplexer
};

// Driver status words (a node returns the negated word from IoCtl).
constexpr uint32_t KX_DRV_STATUS_IN_USE = 0x1000A;
constexpr uint32_t KX_DRV_STATUS_NOT_FOUND = 0x10006;
