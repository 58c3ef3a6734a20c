// The receive pane's store on any run of received blocks, clears and opened files, against a
// plain model: the text lines of the last file opened, then every byte received since, which the
// dump lines give back in order when their hex pairs are read again.
//
// Input: the first byte picks the leading text, then steps. A step byte below 0xF8 is a received
// block of that many bytes, as far as the input goes. 0xF8 clears; 0xF9 opens the next n bytes
// as one text (n the byte after it); 0xFA opens a list of lines, its count and each line's length
// in a byte before it; 0xFB receives 4096 << (next byte % 7) bytes made from the byte after it,
// twice per input at most, so that the lines reach past the store's first chunk of 16384.
#include "Recestore.h"

#include "Fuzzcheck.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t BytesPerLine = 16;
constexpr int MaxBigBlocks = 2;
constexpr size_t LargeBlock = 4096;

// What the pane holds, kept the simplest way.
struct TModel {
    std::vector<std::string> Texts;
    std::vector<uint8_t> Received;
    int64_t Lines() const {
        return int64_t(Texts.size() + (Received.size() + BytesPerLine - 1) / BytesPerLine);
    }
};

bool IsBreak(char c) {
    return c == '\r' || c == '\n';
}

// The lines of a piece of text; "\r\n" is one break. The text after the last break is a line
// even when empty.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsBreak(text[i])) {
            lines.back() += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.emplace_back();
    }
    return lines;
}

// An opened file's lines: as SplitLines, but an empty last line (none at all for an empty file)
// is not a line.
std::vector<std::string> FileLines(std::string_view text) {
    std::vector<std::string> lines = SplitLines(text);
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads dump line j back and compares it with the model's bytes of that line.
void CheckDumpLine(const std::string& line, std::string_view leading, const TModel& model,
                   size_t j) {
    Check(line.size() == leading.size() + 8 + 3 + 48 + 2 + 16);
    Check(line.compare(0, leading.size(), leading) == 0);
    const char* p = line.data() + leading.size();
    uint32_t offset = 0;
    for (int i = 0; i < 8; ++i) {
        const int v = HexValue(p[i]);
        Check(v >= 0);
        offset = offset << 4 | uint32_t(v);
    }
    Check(offset == uint32_t(j * BytesPerLine));
    Check(std::string_view(p + 8, 3) == ":  ");
    const char* hex = p + 11;
    const char* chars = hex + 50;
    Check(hex[48] == ' ' && hex[49] == ' ');

    const size_t first = j * BytesPerLine;
    const size_t count = std::min(BytesPerLine, model.Received.size() - first);
    for (size_t i = 0; i < BytesPerLine; ++i) {
        Check(hex[3 * i + 2] == ' ');
        if (i >= count) {
            Check(hex[3 * i] == ' ' && hex[3 * i + 1] == ' ' && chars[i] == ' ');
            continue;
        }
        const int high = HexValue(hex[3 * i]);
        const int low = HexValue(hex[3 * i + 1]);
        Check(high >= 0 && low >= 0);
        const uint8_t b = model.Received[first + i];
        Check(uint8_t(high << 4 | low) == b);
        Check(chars[i] == (b >= 0x20 && b < 0x7F ? char(b) : '.'));
    }
}

void CheckLine(const TReceStore& store, const TModel& model, int64_t k) {
    const std::string line = store.Line(k);
    Check(store.LineBytes(k) == line.size());
    Check(store.MaxLineBytes() >= line.size());
    std::string scratch;
    Check(store.LineView(k, scratch) == line);
    const size_t texts = model.Texts.size();
    Check(store.IsDumpLine(k) == (size_t(k) >= texts));
    if (size_t(k) < texts)
        Check(line == model.Texts[size_t(k)]);
    else
        CheckDumpLine(line, store.Leading(), model, size_t(k) - texts);
}

// Lines from..LineCount()-1, and the edges of the range.
void CheckLines(const TReceStore& store, const TModel& model, int64_t from) {
    const int64_t count = store.LineCount();
    Check(count == model.Lines());
    for (int64_t k = std::max<int64_t>(from, 0); k < count; ++k)
        CheckLine(store, model, k);
    Check(store.Line(-1).empty() && store.Line(count).empty());
    Check(store.LineBytes(count) == 0 && !store.IsDumpLine(count) && !store.IsDumpLine(-1));
}

// Every line of a short pane; of a long one, its ends, the lines on either side of each of the
// store's chunk boundaries and a sample in between, to keep large inputs quick.
void CheckEarlierLines(const TReceStore& store, const TModel& model) {
    const int64_t count = store.LineCount();
    if (count <= 2048) {
        CheckLines(store, model, 0);
        return;
    }
    constexpr int64_t ChunkLines = 16384, Near = 64, Stride = 97;
    const int64_t texts = int64_t(model.Texts.size());
    for (int64_t k = 0; k < count; ++k) {
        const int64_t j = k - texts; // dump line number
        const int64_t inChunk = j % ChunkLines;
        if (k < Near || count - k <= Near || j % Stride == 0 || inChunk < Near ||
            ChunkLines - inChunk <= Near)
            CheckLine(store, model, k);
    }
}

// Text() joins the lines it is given with "\n".
void CheckText(const TReceStore& store, int64_t first, int64_t last) {
    const int64_t start = std::max<int64_t>(first, 0);
    std::string joined;
    for (int64_t k = start; k < std::min(last, store.LineCount()); ++k) {
        if (k > start)
            joined += '\n';
        joined += store.Line(k);
    }
    Check(store.Text(first, last) == joined);
}

class TInput {
public:
    TInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Done() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string_view Take(size_t n) {
        n = std::min(n, m_size - m_at);
        const std::string_view out(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TInput in(data, size);
    constexpr std::string_view leadings[] = {ReceLeading, SendLeading, ""};
    const std::string_view leading = leadings[in.Byte() % 3];
    TReceStore store(leading);
    TModel model;
    CheckLines(store, model, 0);
    int bigBlocks = 0;

    while (!in.Done()) {
        const uint8_t step = in.Byte();
        const uint64_t epoch = store.Epoch();
        const uint64_t revision = store.Revision();
        if (step < 0xF8 || step == 0xFB) {
            std::vector<uint8_t> block;
            if (step == 0xFB && bigBlocks < MaxBigBlocks) {
                ++bigBlocks;
                block.resize(size_t(4096) << in.Byte() % 7);
                const uint8_t seed = in.Byte();
                for (size_t i = 0; i < block.size(); ++i)
                    block[i] = uint8_t(seed + i * 7 + (i >> 8));
            } else {
                const std::string_view bytes = in.Take(step == 0xFB ? 0 : step);
                block.assign(bytes.begin(), bytes.end());
            }
            // The line the block starts on may be rewritten; those before it stay. Of a large
            // block, the lines at its ends here, all of them at the end of the input.
            const int64_t from = store.LineCount() - 1;
            store.Receive(block.data(), block.size());
            model.Received.insert(model.Received.end(), block.begin(), block.end());
            Check(store.Epoch() == epoch);
            Check(block.empty() ? store.Revision() == revision : store.Revision() != revision);
            if (block.size() <= LargeBlock) {
                CheckLines(store, model, from);
            } else {
                for (int64_t k = std::max<int64_t>(from, 0); k < from + 3; ++k)
                    CheckLine(store, model, k);
                CheckLines(store, model, store.LineCount() - 2);
            }
            continue;
        }
        if (step == 0xF8) {
            store.Clear();
            model = TModel();
        } else if (step == 0xF9) {
            const std::string_view text = in.Take(in.Byte());
            store.LoadText(text);
            model = TModel();
            model.Texts = FileLines(text);
        } else if (step == 0xFA) {
            std::vector<std::string> lines(in.Byte() % 8);
            model = TModel();
            for (std::string& line : lines) {
                line = in.Take(in.Byte());
                for (std::string& piece : SplitLines(line))
                    model.Texts.push_back(std::move(piece));
            }
            store.Load(lines);
        } else {
            continue; // 0xFC..0xFF: nothing
        }
        Check(store.Epoch() != epoch && store.Revision() != revision);
        CheckLines(store, model, 0);
    }

    // A later line must not have overwritten an earlier one.
    CheckEarlierLines(store, model);
    const int64_t count = store.LineCount();
    if (count < 1000)
        CheckText(store, 0, count);
    CheckText(store, count / 3, count / 3 + 5);
    CheckText(store, -2, 1);
    return 0;
}
