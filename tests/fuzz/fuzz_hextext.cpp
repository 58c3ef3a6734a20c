// The hex parser on any bytes, also far longer than the 2048 bytes it keeps, and the formatter's
// text parsing back to the same bytes.
#include "Fuzzcheck.h"
#include "HexText.h"

#include <cstring>
#include <string>

namespace {

void ParseOnce(const std::string& text) {
    static HexBytes bytes;
    bool cut = false;
    const bool result = HexTextToBytes(bytes, text, &cut);
    Check(bytes.Count <= HexBytesCapacity);
    Check(result == (text.find('\r') == std::string::npos));
    // (n + 1) / 2 bytes at most, so up to 4096 bytes of text always fit.
    Check(bytes.Count <= (text.size() + 1) / 2);
    if (text.size() <= 2 * HexBytesCapacity)
        Check(!cut);
    if (cut)
        Check(bytes.Count == HexBytesCapacity);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ParseOnce(text);

    // Repeated, the input reaches past 4096 bytes even when the fuzzer keeps inputs short.
    if (size > 0) {
        std::string longer;
        for (int i = 0; i < 1 + data[0] % 8; ++i)
            longer += text;
        ParseOnce(longer);
    }

    // The raw input as bytes: formatting and parsing again gives them back.
    static HexBytes source, parsed;
    source.Count = static_cast<uint32_t>(size < HexBytesCapacity ? size : HexBytesCapacity);
    std::memcpy(source.Data, data, source.Count);
    const std::string formatted = BytesToHexText(source);
    Check(formatted.size() == 3 * source.Count);
    bool cut = true;
    Check(HexTextToBytes(parsed, formatted, &cut));
    Check(!cut);
    Check(parsed.Count == source.Count);
    Check(std::memcmp(parsed.Data, source.Data, source.Count) == 0);
    return 0;
}
