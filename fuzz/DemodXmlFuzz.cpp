// Fuzz target: every XML reader of the demod value types, fed as wide text the way the
// generic commands and scan events deliver it. Whatever a reader accepts must serialise
// again and be accepted again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DemodPars.h"
#include "KxScanProgress.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// First byte even: the rest is raw 4-byte characters (any value, as a client may send);
// odd: the rest is UTF-8 text widened first, which reaches deeper into the XML grammar.
std::wstring ToWide(const uint8_t* data, size_t size)
{
    std::wstring text;
    if (size == 0)
        return text;
    if ((data[0] & 1) == 0) {
        size_t count = (size - 1) / 4;
        text.resize(count);
        std::memcpy(text.data(), data + 1, count * 4);
    } else {
        Utf8AppendToWide(reinterpret_cast<const char*>(data + 1), size - 1, text);
    }
    return text;
}

template <typename T> void RoundTrip(const std::wstring& text)
{
    T value;
    if (KxapiFailed(value.FromXml(text)))
        return;
    std::wstring again;
    if (KxapiFailed(value.ToXml(again)))
        return;
    T reparsed;
    Check(KxapiSucceeded(reparsed.FromXml(again)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text = ToWide(data, size);

    RoundTrip<KxDemodPars>(text);
    RoundTrip<KxBsProgress>(text);
    RoundTrip<KxSpsProgress>(text);
    RoundTrip<KxDvbC2StreamSelPars>(text);
    RoundTrip<KxDvbT2StreamSelPars>(text);

    std::vector<KxStatistic> stats;
    if (KxapiSucceeded(KxStatistic::FromXml(text, stats))) {
        std::wstring again;
        if (KxapiSucceeded(KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), again))) {
            std::vector<KxStatistic> reparsed;
            Check(KxapiSucceeded(KxStatistic::FromXml(again, reparsed)));
            Check(reparsed.size() == stats.size());
        }
    }
    std::vector<KxStreamSelPars> streams;
    if (KxapiSucceeded(KxStreamSelPars::FromXml(text, streams))) {
        std::wstring again;
        Check(KxapiSucceeded(KxStreamSelPars::ToXml(streams, again)));
    }

    Markup doc;
    if (KxapiSucceeded(doc.Parse(text))) {
        int64_t value = 0;
        (void)doc.Top().FindChild("FreqHz").GetTextInt(value);
    }
    return 0;
}
