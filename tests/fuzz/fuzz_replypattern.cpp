// The patterns of automatic replies and of scripts' expectations, as typed into the table or
// read back from the settings, and the stream search over any received bytes. The first byte
// chooses the kind and where the pattern ends; the rest is fed in pieces of varying size.
// Properties: parsing never fails without a reason, a sound text or hex pattern's matches are
// exactly as long as the pattern and lie inside the stream, and matches come in order without
// overlapping.
#include "Fuzzcheck.h"
#include "ReplyPattern.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const TPatternKind kind = TPatternKind(data[0] % 3);
    const size_t patternLen = std::min<size_t>(data[1], size - 2);
    const std::string pattern(reinterpret_cast<const char*>(data) + 2, patternLen);
    const uint8_t* stream = data + 2 + patternLen;
    const size_t streamLen = size - 2 - patternLen;

    const TReplyPattern p = TReplyPattern::Parse(kind, pattern);
    Check(p.Valid() == p.Error.empty());
    std::string error;
    const std::optional<std::string> reply = ParseReply(data[0] & 4, pattern, &error);
    Check(reply.has_value() == error.empty());

    TStreamMatcher m(p);
    uint64_t lastEnd = 0;
    size_t fed = 0, piece = 1;
    while (fed < streamLen) {
        const size_t n = std::min(piece, streamLen - fed);
        m.Feed(stream + fed, n, [&](uint64_t end, std::string_view match) {
            Check(p.Valid());
            Check(end <= fed + n);
            Check(end >= lastEnd + match.size());
            if (p.Kind != TPatternKind::Regex) {
                Check(match.size() == p.Bytes.size());
                for (size_t i = 0; i < match.size(); ++i)
                    Check(p.Any[i] || match[i] == p.Bytes[i]);
            }
            Check(std::string_view(reinterpret_cast<const char*>(stream) + end - match.size(),
                                   match.size()) == match);
            lastEnd = end;
        });
        fed += n;
        piece = piece * 3 % 17 + 1;
    }
    return 0;
}
