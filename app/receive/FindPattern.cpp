#include "FindPattern.h"

#include "HexDump.h"
#include "ReceiveStore.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace {

constexpr bool IsLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A backward look for pair boundaries stops this far back: such a run of lead
// bytes is binary noise, and a match at its end is taken as it stands.
constexpr size_t PairLookBack = 4096;

// Two bytes of a fixed pattern, tested at many places at once: only where
// both fit (masked) is the whole pattern compared.
struct TProbe {
    size_t Off1 = 0, Off2 = 0; // the pattern's first and last byte that is not a wildcard
    uint8_t V1 = 0, K1 = 0, V2 = 0, K2 = 0;
};

#ifdef __SSE2__
// From start s on, windows of Width starts while s + Width <= limit and the
// loads stay inside count: the first window's start with a candidate and its
// lanes in bits, or where it stopped with bits 0.
size_t Probe16(const uint8_t* b, size_t s, size_t limit, size_t count, const TProbe& p, uint32_t& bits) {
    const __m128i v1 = _mm_set1_epi8(char(p.V1)), k1 = _mm_set1_epi8(char(p.K1));
    const __m128i v2 = _mm_set1_epi8(char(p.V2)), k2 = _mm_set1_epi8(char(p.K2));
    for (; s + 16 <= limit && s + p.Off2 + 16 <= count; s += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + s + p.Off1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + s + p.Off2));
        const __m128i eq = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(a, k1), v1),
                                         _mm_cmpeq_epi8(_mm_and_si128(c, k2), v2));
        bits = uint32_t(_mm_movemask_epi8(eq));
        if (bits != 0)
            return s;
    }
    bits = 0;
    return s;
}

__attribute__((target("avx2"))) size_t Probe32(const uint8_t* b, size_t s, size_t limit, size_t count,
                                               const TProbe& p, uint32_t& bits) {
    const __m256i v1 = _mm256_set1_epi8(char(p.V1)), k1 = _mm256_set1_epi8(char(p.K1));
    const __m256i v2 = _mm256_set1_epi8(char(p.V2)), k2 = _mm256_set1_epi8(char(p.K2));
    const bool exact = p.K1 == 0xFF && p.K2 == 0xFF;
    for (; s + 32 <= limit && s + p.Off2 + 32 <= count; s += 32) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + s + p.Off1));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + s + p.Off2));
        if (!exact) {
            a = _mm256_and_si256(a, k1);
            c = _mm256_and_si256(c, k2);
        }
        const __m256i eq = _mm256_and_si256(_mm256_cmpeq_epi8(a, v1), _mm256_cmpeq_epi8(c, v2));
        bits = uint32_t(_mm256_movemask_epi8(eq));
        if (bits != 0)
            return s;
    }
    bits = 0;
    return s;
}

const bool HasAvx2 = __builtin_cpu_supports("avx2");
#endif

pcre2_code* Code(void* code) {
    return static_cast<pcre2_code*>(code);
}

} // namespace

size_t GatherRunBytes(const TReceiveStore& store, uint64_t pos, size_t count, uint8_t* out) {
    size_t done = 0;
    while (done < count) {
        const uint8_t* at = nullptr;
        const size_t n = store.RunBytes(pos + done, at);
        if (n == 0)
            break;
        const size_t take = std::min(n, count - done);
        std::memcpy(out + done, at, take);
        done += take;
    }
    return done;
}

TFindPattern::~TFindPattern() {
    if (m_code != nullptr)
        pcre2_code_free(Code(m_code));
}

size_t TFindPattern::Reach() const {
    return m_kind == EFindKind::Regex ? MaxRegexMatch : m_value.size();
}

TFindPattern::TCompiled TFindPattern::Compile(EFindKind kind, std::string_view text, bool caseless) {
    TCompiled out;
    std::shared_ptr<TFindPattern> p(new TFindPattern);
    p->m_kind = kind;
    const auto fail = [&](EFindError e) {
        out.Error = e;
        return out;
    };
    if (text.empty())
        return fail(EFindError::Empty);

    if (kind == EFindKind::Regex) {
        if (text.size() > MaxPatternBytes)
            return fail(EFindError::TooLong);
        int code = 0;
        PCRE2_SIZE offset = 0;
        pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
        pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
        const uint32_t options = PCRE2_MULTILINE | (caseless ? PCRE2_CASELESS : 0u);
        pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                             options, &code, &offset, context);
        pcre2_compile_context_free(context);
        if (compiled == nullptr) {
            PCRE2_UCHAR message[256];
            pcre2_get_error_message(code, message, sizeof message);
            out.Message = reinterpret_cast<const char*>(message);
            out.Offset = offset;
            return fail(EFindError::Regex);
        }
        // Without the JIT (a system that forbids it) the interpreter runs instead.
        pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
        p->m_code = compiled;
        out.Pattern = std::move(p);
        return out;
    }

    std::vector<uint8_t>& value = p->m_value;
    std::vector<uint8_t>& mask = p->m_mask;
    if (kind == EFindKind::Hex) {
        size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == ' ' || c == '\t' || c == ',') {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < text.size() && (HexValue(text[end]) >= 0 || text[end] == '?'))
                ++end;
            if (end == i)
                return fail(EFindError::NotHex);
            if ((end - i) % 2 != 0)
                return fail(EFindError::OddHex);
            for (; i < end; i += 2) {
                if (text[i] == '?' && text[i + 1] == '?') {
                    value.push_back(0);
                    mask.push_back(0);
                } else if (text[i] == '?' || text[i + 1] == '?') {
                    return fail(EFindError::NotHex);
                } else {
                    value.push_back(uint8_t(HexValue(text[i]) << 4 | HexValue(text[i + 1])));
                    mask.push_back(0xFF);
                }
            }
            if (value.size() > MaxPatternBytes)
                return fail(EFindError::TooLong);
        }
        if (std::all_of(mask.begin(), mask.end(), [](uint8_t m) { return m == 0; }))
            return fail(value.empty() ? EFindError::Empty : EFindError::AllWildcard);
    } else {
        p->m_checkPairs = true;
        const auto put = [&](uint8_t b) {
            const bool letter = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
            if (caseless && letter) {
                value.push_back(uint8_t(b & 0xDF));
                mask.push_back(0xDF);
            } else {
                value.push_back(b);
                mask.push_back(0xFF);
            }
        };
        for (size_t i = 0; i < text.size(); ++i) {
            const uint8_t b = uint8_t(text[i]);
            if (IsLead(b) && i + 1 < text.size()) {
                // A pair's second byte may be a backslash or a letter: it is taken as it is.
                value.push_back(b);
                mask.push_back(0xFF);
                value.push_back(uint8_t(text[i + 1]));
                mask.push_back(0xFF);
                ++i;
            } else if (b == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
                put('\\');
                ++i;
            } else if (b == '\\' && i + 3 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
                       HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
                value.push_back(uint8_t(HexValue(text[i + 2]) << 4 | HexValue(text[i + 3])));
                mask.push_back(0xFF);
                i += 3;
            } else {
                put(b);
            }
            if (value.size() > MaxPatternBytes)
                return fail(EFindError::TooLong);
        }
    }
    p->m_exact = std::all_of(mask.begin(), mask.end(), [](uint8_t m) { return m == 0xFF; });
    size_t first = 0, last = mask.size() - 1;
    while (mask[first] == 0)
        ++first;
    while (mask[last] == 0)
        --last;
    p->m_first = first;
    p->m_last = last;
    out.Pattern = std::move(p);
    return out;
}

// hit(s) is called for each match start s in [start, limit) with s + m <= count,
// and gives back where the next match may start (SIZE_MAX: stop).
template <class F>
size_t TFindPattern::FixedIn(const uint8_t* b, size_t count, size_t limit, size_t start, F&& hit) const {
    const size_t m = m_value.size();
    if (count < m)
        return start;
    limit = std::min(limit, count - m + 1);
    const uint8_t* value = m_value.data();
    const uint8_t* mask = m_mask.data();
    const auto verify = [&](size_t s) {
        if (m_exact)
            return std::memcmp(b + s, value, m) == 0;
        for (size_t i = 0; i < m; ++i) {
            if ((b[s + i] & mask[i]) != value[i])
                return false;
        }
        return true;
    };
    size_t s = start;
#ifdef __SSE2__
    TProbe probe;
    probe.Off1 = m_first;
    probe.Off2 = m_last;
    probe.V1 = value[m_first];
    probe.K1 = mask[m_first];
    probe.V2 = value[m_last];
    probe.K2 = mask[m_last];
    const size_t width = HasAvx2 ? 32 : 16;
    for (;;) {
        uint32_t bits = 0;
        s = HasAvx2 ? Probe32(b, s, limit, count, probe, bits) : Probe16(b, s, limit, count, probe, bits);
        if (bits == 0)
            break;
        size_t next = s + width;
        while (bits != 0) {
            const size_t p = s + size_t(__builtin_ctz(bits));
            bits &= bits - 1;
            if (!verify(p))
                continue;
            const size_t after = hit(p);
            if (after == SIZE_MAX)
                return SIZE_MAX;
            if (after >= s + width) {
                next = after;
                break;
            }
            bits &= ~((1u << (after - s)) - 1u);
        }
        s = next;
    }
#endif
    while (s < limit) {
        if (verify(s)) {
            const size_t after = hit(s);
            if (after == SIZE_MAX)
                return SIZE_MAX;
            s = after;
        } else {
            ++s;
        }
    }
    return s;
}

// Whether pos does not fall on the second byte of a code page pair: the lead
// bytes just before it pair up from the first, so an odd run ends in a lead.
bool TFindPattern::AtCharStart(const TReceiveStore* store, const uint8_t* flat, uint64_t pos) const {
    if (!m_checkPairs)
        return true;
    const uint64_t begin = flat != nullptr ? 0 : uint64_t(store->RunFirstLine()) * HexDumpBytesPerLine;
    size_t run = 0;
    uint64_t q = pos;
    while (q > begin && run < PairLookBack) {
        uint8_t b = 0;
        if (flat != nullptr) {
            b = flat[q - 1];
        } else {
            const uint8_t* at = nullptr;
            if (store->RunBytes(q - 1, at) == 0)
                break;
            b = *at;
        }
        if (!IsLead(b))
            break;
        ++run;
        --q;
    }
    return run % 2 == 0;
}

uint64_t TFindPattern::ScanFixed(const TReceiveStore& store, uint64_t from, uint64_t to, uint64_t skip,
                                 const std::function<bool(const TMatch&)>& found) const {
    const size_t m = m_value.size();
    uint64_t pos = std::max({from, skip, uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine});
    uint64_t reach = 0;
    bool stop = false;
    std::vector<uint8_t> seam;
    // next: where a match may start, as a position of the run.
    uint64_t next = pos;
    while (pos < to && !stop) {
        const uint8_t* at = nullptr;
        const size_t n = store.RunBytes(pos, at);
        if (n == 0)
            break;
        const uint64_t spanEnd = pos + n;
        const auto onHit = [&](uint64_t start) -> bool {
            if (!AtCharStart(&store, nullptr, start))
                return true;
            reach = start + m;
            next = reach;
            if (!found(TMatch{start, uint32_t(m)})) {
                stop = true;
                return false;
            }
            return true;
        };
        // Starts whose match lies inside the span.
        if (n >= m) {
            const size_t limit = size_t(std::min(to, spanEnd) - pos);
            FixedIn(at, n, limit, size_t(next - pos), [&](size_t s) -> size_t {
                if (!onHit(pos + s))
                    return SIZE_MAX;
                return size_t(next - pos) > s ? size_t(next - pos) : s + 1;
            });
        }
        if (stop)
            break;
        // Starts whose match runs on into the next span.
        const uint64_t seamStart = std::max({pos, spanEnd >= m - 1 ? spanEnd - (m - 1) : 0, next});
        const uint64_t seamLimit = std::min(to, spanEnd);
        if (m > 1 && seamStart < seamLimit) {
            seam.resize(size_t(spanEnd - seamStart) + m - 1);
            const size_t got = GatherRunBytes(store, seamStart, seam.size(), seam.data());
            FixedIn(seam.data(), got, size_t(seamLimit - seamStart), 0, [&](size_t s) -> size_t {
                if (!onHit(seamStart + s))
                    return SIZE_MAX;
                return next > seamStart + s ? size_t(next - seamStart) : s + 1;
            });
        }
        next = std::max(next, spanEnd);
        pos = spanEnd;
    }
    return reach;
}

uint64_t TFindPattern::ScanRegex(const uint8_t* bytes, size_t count, size_t from, size_t to, uint64_t base,
                                 uint64_t skip, const std::function<bool(const TMatch&)>& found) const {
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(Code(m_code), nullptr);
    uint64_t reach = 0;
    size_t offset = std::max<size_t>(from, skip > base ? size_t(std::min<uint64_t>(skip - base, count)) : 0);
    const PCRE2_SPTR subject = reinterpret_cast<PCRE2_SPTR>(bytes != nullptr ? bytes : reinterpret_cast<const uint8_t*>(""));
    while (offset < to) {
        const int rc = pcre2_match(Code(m_code), subject, count, offset, PCRE2_NOTEMPTY, data, nullptr);
        if (rc < 0)
            break; // no match, or a limit of the library: what was found stands
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
        const size_t s = ov[0], e = ov[1];
        if (s >= to || e <= s)
            break;
        reach = base + e;
        if (!found(TMatch{base + s, uint32_t(std::min<size_t>(e - s, UINT32_MAX))}))
            break;
        offset = e;
    }
    pcre2_match_data_free(data);
    return reach;
}

uint64_t TFindPattern::Scan(const TReceiveStore& store, uint64_t from, uint64_t to, uint64_t skip,
                            const std::function<bool(const TMatch&)>& found) const {
    const uint64_t begin = uint64_t(store.RunFirstLine()) * HexDumpBytesPerLine;
    const uint64_t end = store.TextIndex().End();
    from = std::max(from, begin);
    to = std::min(to, end);
    if (from >= to)
        return 0;
    if (m_kind != EFindKind::Regex)
        return ScanFixed(store, from, to, skip, found);
    // A regular expression reads flat pieces of a chunk each: the chunk, the
    // bytes a match may run on into, and a little before for what it looks back on.
    uint64_t reach = 0;
    std::vector<uint8_t> piece;
    bool stop = false;
    for (uint64_t at = from; at < to && !stop; at += PieceBytes) {
        const uint64_t pieceTo = std::min(to, at + PieceBytes);
        const uint64_t first = at - std::min<uint64_t>(at - begin, RegexLookBehind);
        const uint64_t last = std::min(end, pieceTo + MaxRegexMatch);
        piece.resize(size_t(last - first));
        const size_t got = GatherRunBytes(store, first, piece.size(), piece.data());
        const uint64_t r = ScanRegex(piece.data(), got, size_t(at - first),
                                     size_t(std::min<uint64_t>(pieceTo - first, got)), first,
                                     std::max(skip, reach), [&](const TMatch& m) {
                                         if (!found(m)) {
                                             stop = true;
                                             return false;
                                         }
                                         return true;
                                     });
        reach = std::max(reach, r);
    }
    return reach;
}

uint64_t TFindPattern::ScanFlat(const uint8_t* bytes, size_t count,
                                const std::function<bool(const TMatch&)>& found) const {
    if (m_kind == EFindKind::Regex)
        return ScanRegex(bytes, count, 0, count, 0, 0, found);
    const size_t m = m_value.size();
    uint64_t reach = 0;
    FixedIn(bytes, count, count, 0, [&](size_t s) -> size_t {
        if (!AtCharStart(nullptr, bytes, s))
            return s + 1;
        reach = s + m;
        if (!found(TMatch{s, uint32_t(m)}))
            return SIZE_MAX;
        return s + m;
    });
    return reach;
}
