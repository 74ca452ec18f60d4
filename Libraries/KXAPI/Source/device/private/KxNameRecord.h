// Property, table and VPD records shared by every family (layouts in KxDriverRequests.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KxDevice.h"

// Builds the 84-byte name record; false when the name does not fit (more than 49 characters).
bool KxBuildNameRecord(std::vector<unsigned char>& record, int port, const char* name, uint32_t capacity);
KXAPI_RESULT KxParsePropertyAnswer(const unsigned char* answer, uint32_t size, int64_t& value, std::string* text);
// Copies the entries when they fit; else KXAPI_E_BUF_TOO_SMALL with the needed count.
KXAPI_RESULT KxParseTableAnswer(const unsigned char* answer, uint32_t size, int capacity, _KxTableEntry* entries,
                                int& numEntries);
uint32_t KxTableAnswerSize(int capacity);
