#include "network/KxeSoapLimits.h"

#include <atomic>
#include <cctype>

#include "stdsoap2.h"

namespace {
using ParseHeader = int (*)(struct soap*, const char*, const char*);

// The toolkit's own header parser; the same function for every engine.
std::atomic<ParseHeader> g_ToolkitParseHeader{nullptr};

// True when `text` is optional blanks, 1 to 7 decimal digits and optional blanks, and the
// number is at most KXE_MAX_SOAP_MESSAGE.
bool IsAcceptableLength(const char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    size_t value = 0;
    int digits = 0;
    for (; isdigit(static_cast<unsigned char>(*text)) != 0; ++text) {
        if (++digits > 7)
            return false;
        value = value * 10 + static_cast<size_t>(*text - '0');
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    return digits > 0 && *text == '\0' && value <= KXE_MAX_SOAP_MESSAGE;
}

int ParseHeaderChecked(struct soap* engine, const char* key, const char* value)
{
    // The toolkit matches header names with its own loose comparison ('-' stands for any
    // character), so the same comparison decides which header is the length.
    if (key != nullptr && soap_tag_cmp(key, "Content-Length") == 0 &&
        (value == nullptr || !IsAcceptableLength(value)))
        return engine->error = SOAP_LENGTH;
    return g_ToolkitParseHeader.load()(engine, key, value);
}
} // namespace

void KxeLimitSoapInput(struct soap* engine)
{
    engine->recv_maxlength = KXE_MAX_SOAP_MESSAGE;
    if (engine->fparsehdr != &ParseHeaderChecked) {
        g_ToolkitParseHeader.store(engine->fparsehdr);
        engine->fparsehdr = &ParseHeaderChecked;
    }
}
