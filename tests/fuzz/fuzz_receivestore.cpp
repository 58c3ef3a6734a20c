// The receive pane's store on any run of received blocks, clears and opened files, against a
// plain model: the text lines of the last file opened, then every byte received since, which the
// dump lines give back in order when their hex pairs are read again.
//
// Input: the first byte picks the leading text, then steps. A step byte below 0xF8 is a received
// block of that many bytes, as far as the input goes. 0xF8 clears; 0xF9 opens the next n bytes
// as one text (n the byte after it); 0xFA opens a list of lines, its count and each line's length
// in a byte before it; 0xFB receives 4096 << (next byte % 7) bytes made from the byte after it,
// twice per input at most, so that the lines reach past the store's first chunk of 16384.
// 0xFC opens a list of lines made as our own dump lines (count, then for each its offset byte,
// byte count and bytes) with one character of some of them changed: the near misses must stay
// text, and every line must come back exactly. 0xFD takes a snapshot, checked against the model of
// its moment at the end. 0xFE sets a memory limit of (next byte + 1) · 64 KiB, so the oldest lines
// go behind a mark line.
#include "ReceiveStore.h"

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

const char Digits[] = "0123456789ABCDEF";

// One of our dump lines: leading, offset, 16 hex columns, two spaces, the printable column.
std::string OwnDumpLine(std::string_view leading, uint32_t offset, const uint8_t* bytes,
                        size_t count) {
    std::string line(leading);
    for (int shift = 28; shift >= 0; shift -= 4)
        line += Digits[offset >> shift & 0xF];
    line += ":  ";
    std::string chars;
    for (size_t i = 0; i < BytesPerLine; ++i) {
        line += i < count ? Digits[bytes[i] >> 4] : ' ';
        line += i < count ? Digits[bytes[i] & 0xF] : ' ';
        line += ' ';
        chars += i >= count ? ' ' : bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
    }
    return line + " " + chars;
}

// True when an opened line is exactly what OwnDumpLine gives for some offset and 1..16 bytes.
bool IsOwnDumpLine(const std::string& line, std::string_view leading) {
    if (line.size() != leading.size() + 77 || line.compare(0, leading.size(), leading) != 0)
        return false;
    const char* p = line.data() + leading.size();
    uint32_t offset = 0;
    for (int i = 0; i < 8; ++i) {
        const char* d = std::strchr(Digits, p[i]);
        if (p[i] == 0 || d == nullptr)
            return false;
        offset = offset << 4 | uint32_t(d - Digits);
    }
    if (offset % 16 != 0)
        return false;
    uint8_t bytes[BytesPerLine];
    size_t count = 0;
    for (; count < BytesPerLine; ++count) {
        const char* high = p[11 + 3 * count] ? std::strchr(Digits, p[11 + 3 * count]) : nullptr;
        const char* low = p[12 + 3 * count] ? std::strchr(Digits, p[12 + 3 * count]) : nullptr;
        if (high == nullptr || low == nullptr)
            break;
        bytes[count] = uint8_t((high - Digits) << 4 | (low - Digits));
    }
    return count > 0 && OwnDumpLine(leading, offset, bytes, count) == line;
}

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

void CheckLine(const TReceiveStore& store, const TModel& model, int64_t k) {
    const std::string line = store.Line(k);
    Check(store.LineBytes(k) == line.size());
    Check(store.MaxLineBytes() >= line.size());
    std::string scratch;
    Check(store.LineView(k, scratch) == line);
    // Dropped lines are a prefix of the model's, behind one mark line.
    const int64_t dropped = store.DroppedLines();
    if (dropped > 0 && k == 0) {
        Check(line == TReceiveStore::DroppedMark(dropped) && !store.IsDumpLine(0));
        return;
    }
    const size_t m = size_t(k - (dropped > 0 ? 1 : 0) + dropped); // the model's line number
    const size_t texts = model.Texts.size();
    if (m < texts) {
        Check(line == model.Texts[m]);
        Check(store.IsDumpLine(k) == IsOwnDumpLine(line, store.Leading()));
    } else {
        Check(store.IsDumpLine(k));
        CheckDumpLine(line, store.Leading(), model, m - texts);
    }
}

int64_t ExpectedCount(const TReceiveStore& store, const TModel& model) {
    const int64_t dropped = store.DroppedLines();
    return model.Lines() - dropped + (dropped > 0 ? 1 : 0);
}

// Lines from..LineCount()-1, and the edges of the range.
void CheckLines(const TReceiveStore& store, const TModel& model, int64_t from) {
    const int64_t count = store.LineCount();
    Check(count == ExpectedCount(store, model));
    Check(store.MemoryLimit() == 0 || store.DroppedLines() == 0 ||
          store.MemoryUsed() <= store.MemoryLimit() + (size_t(2) << 20));
    size_t hint = 0; // read in order as a save does, the block of the last line kept
    std::string scratch;
    for (int64_t k = std::max<int64_t>(from, 0); k < count; ++k) {
        CheckLine(store, model, k);
        Check(store.LineView(k, scratch, hint) == store.Line(k));
    }
    Check(store.Line(-1).empty() && store.Line(count).empty());
    Check(store.LineBytes(count) == 0 && !store.IsDumpLine(count) && !store.IsDumpLine(-1));
}

// Every line of a short pane; of a long one, its ends, the lines on either side of each of the
// store's chunk boundaries and a sample in between, to keep large inputs quick.
void CheckEarlierLines(const TReceiveStore& store, const TModel& model) {
    const int64_t count = store.LineCount();
    if (count <= 2048) {
        CheckLines(store, model, 0);
        return;
    }
    constexpr int64_t ChunkLines = 16384, Near = 64, Stride = 97;
    const int64_t texts = int64_t(model.Texts.size()) - store.DroppedLines();
    for (int64_t k = 0; k < count; ++k) {
        const int64_t j = k - texts; // dump line number, near enough
        const int64_t inChunk = j % ChunkLines;
        if (k < Near || count - k <= Near || j % Stride == 0 || inChunk < Near ||
            ChunkLines - inChunk <= Near)
            CheckLine(store, model, k);
    }
}

// Text() joins the lines it is given with "\n".
void CheckText(const TReceiveStore& store, int64_t first, int64_t last) {
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
    TReceiveStore store(leading);
    TModel model;
    CheckLines(store, model, 0);
    int bigBlocks = 0;
    std::shared_ptr<const TReceiveStore> shot;
    TModel shotModel;
    int64_t shotDropped = 0;

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
            int64_t from = store.LineCount() - 1;
            const int64_t shifted = store.LinesShifted();
            store.Receive(block.data(), block.size());
            model.Received.insert(model.Received.end(), block.begin(), block.end());
            // Lines dropped for the memory limit moved that line up (or away).
            from = std::max<int64_t>(from - (store.LinesShifted() - shifted), 0);
            Check(store.Epoch() == epoch);
            Check(block.empty() ? store.Revision() == revision : store.Revision() != revision);
            if (block.size() <= LargeBlock) {
                CheckLines(store, model, from);
            } else {
                for (int64_t k = from; k < std::min(from + 3, store.LineCount()); ++k)
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
        } else if (step == 0xFC) {
            std::vector<std::string> lines(in.Byte() % 32);
            for (std::string& line : lines) {
                const uint32_t offset = uint32_t(in.Byte()) * 16;
                const size_t count = in.Byte() % 18; // 0 and 17 are near misses too
                uint8_t bytes[17] = {};
                const std::string_view taken = in.Take(count);
                std::memcpy(bytes, taken.data(), taken.size());
                line = OwnDumpLine(leading, offset, bytes, std::min<size_t>(count, 16));
                const uint8_t change = in.Byte();
                if (change < line.size())
                    line[change] = char(in.Byte());
            }
            model = TModel();
            for (const std::string& line : lines)
                for (std::string& piece : SplitLines(line))
                    model.Texts.push_back(std::move(piece));
            store.Load(lines);
        } else if (step == 0xFD) {
            shot = store.Snapshot();
            shotModel = model;
            shotDropped = store.DroppedLines();
            continue;
        } else if (step == 0xFE) {
            store.SetMemoryLimit((size_t(in.Byte()) + 1) << 16);
            CheckLines(store, model, 0);
            continue;
        } else {
            continue; // 0xFF: nothing
        }
        Check(store.Epoch() != epoch && store.Revision() != revision);
        CheckLines(store, model, 0);
    }

    // A later line must not have overwritten an earlier one, nor anything since the snapshot's.
    CheckEarlierLines(store, model);
    if (shot) {
        Check(shot->DroppedLines() == shotDropped);
        CheckEarlierLines(*shot, shotModel);
    }
    const int64_t count = store.LineCount();
    if (count < 1000)
        CheckText(store, 0, count);
    CheckText(store, count / 3, count / 3 + 5);
    CheckText(store, -2, 1);
    return 0;
}
