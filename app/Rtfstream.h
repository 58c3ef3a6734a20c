#pragma once
// Stand-in for the streaming history-file functions until they land in Rtf.h: the same
// declarations, carried out with the whole-document functions (so still within RtfMaxFileSize
// and with a whole document in memory). Removed when Rtf.h has them.

#include "Rtf.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TRtfLineSink {
public:
    virtual ~TRtfLineSink() = default;
    virtual void Line(std::string_view utf8) = 0;
    virtual void Restart() = 0;
};

enum class TFileResult { Ok, Failed, Cancelled };
using TFileProgress = std::function<bool(int64_t done, int64_t total)>;

TFileResult SaveRtfStream(const QString& fileName, const RtfStyle& style, int64_t lineCount,
                          const std::function<std::string_view(int64_t k, std::string& scratch)>& line,
                          const TFileProgress& progress);
TFileResult LoadRtfStream(const QString& fileName, TRtfLineSink& sink, const TFileProgress& progress,
                          bool* isRtf = nullptr, RtfStyle* style = nullptr);
