// The find bar's pattern parser on any text, in each kind, with and without
// case: it compiles or says why, and a compiled pattern finds the same
// matches in the receive store, fed in pieces, as in one flat buffer.
#include "FindPattern.h"
#include "Fuzzcheck.h"
#include "ReceiveStore.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const EFindKind kind = EFindKind(data[0] % 3);
    const bool caseless = (data[0] & 0x80) != 0;
    // The rest: the pattern up to the first 0 byte, the bytes to look in after it.
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t cut = rest.find('\0');
    const std::string pattern = rest.substr(0, cut);
    std::string subject = cut == std::string::npos ? rest : rest.substr(cut + 1);
    const TFindPattern::TCompiled compiled = TFindPattern::Compile(kind, pattern, caseless);
    Check((compiled.Pattern == nullptr) == (compiled.Error != EFindError::None));
    if (!compiled.Pattern)
        return 0;
    Check(compiled.Pattern->Kind() == kind);
    // Across a block's end: the subject's bytes straddle it.
    std::string bytes(TReceiveStore::DumpBlockLines * 16 - subject.size() / 2, 'z');
    bytes += subject;
    std::vector<TFindPattern::TMatch> flat, stored;
    compiled.Pattern->ScanFlat(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                               [&](const TFindPattern::TMatch& m) {
                                   Check(m.Len > 0 && m.Pos + m.Len <= bytes.size());
                                   flat.push_back(m);
                                   return flat.size() < 100000;
                               });
    TReceiveStore store;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t piece = 1 + data[1] % 64;
    size_t at = 0;
    store.Receive(p, bytes.size() - subject.size());
    for (at = bytes.size() - subject.size(); at < bytes.size(); at += piece)
        store.Receive(p + at, std::min(piece, bytes.size() - at));
    compiled.Pattern->Scan(store, 0, UINT64_MAX, 0, [&](const TFindPattern::TMatch& m) {
        stored.push_back(m);
        return stored.size() < 100000;
    });
    Check(flat.size() == stored.size());
    for (size_t i = 0; i < flat.size() && i < stored.size(); ++i)
        Check(flat[i].Pos == stored[i].Pos && flat[i].Len == stored[i].Len);
    return 0;
}
