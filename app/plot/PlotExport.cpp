#include "PlotExport.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegularFileToWrite(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return -1;
    }
    // Not blocking while it opens, in case a FIFO took the name meanwhile.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        error = std::strerror(S_ISREG(st.st_mode) ? errno : EINVAL);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteAll(int fd, const char* p, size_t left, std::string& error) {
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    return true;
}

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm" in local time; the date and second are made once a second.
class TStampText {
public:
    void Append(int64_t ms, std::string& out) {
        const int64_t sec = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
        if (sec != m_sec || m_text.empty()) {
            m_sec = sec;
            const time_t t = time_t(sec);
            tm local{};
            localtime_r(&t, &local);
            char buf[32];
            std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
            m_text = buf;
        }
        out += m_text;
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%03d", int(ms - sec * 1000));
        out += frac;
    }

private:
    int64_t m_sec = 0;
    std::string m_text;
};

void AppendCsvField(const std::string& text, std::string& out) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

bool WritePlotCsv(int fd, const std::vector<TPlotSeries::TView>& series, double t0, double t1,
                  int64_t origin, const std::atomic<bool>& cancel, std::atomic<int>& percent,
                  std::string& error) {
    std::string out = "time";
    for (const auto& s : series) {
        out += ',';
        AppendCsvField(s.Name(), out);
    }
    out += "\r\n";
    // Each series from its first point in view; a row takes the series whose next point has
    // the earliest time.
    std::vector<size_t> next(series.size()), end(series.size());
    size_t total = 0, done = 0;
    for (size_t i = 0; i < series.size(); ++i) {
        const auto& s = series[i];
        size_t a = 0, b = s.Size();
        // Binary searches over the view's times.
        size_t lo = 0, hi = s.Size();
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (double(s.Time(mid)) < t0)
                lo = mid + 1;
            else
                hi = mid;
        }
        a = lo;
        hi = s.Size();
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (double(s.Time(mid)) < t1)
                lo = mid + 1;
            else
                hi = mid;
        }
        b = lo;
        next[i] = a;
        end[i] = b;
        total += b - a;
    }
    TStampText stamp;
    char num[32];
    for (;;) {
        uint32_t t = UINT32_MAX;
        bool any = false;
        for (size_t i = 0; i < series.size(); ++i)
            if (next[i] < end[i] && (!any || series[i].Time(next[i]) < t)) {
                t = series[i].Time(next[i]);
                any = true;
            }
        if (!any)
            break;
        stamp.Append(origin + int64_t(t), out);
        for (size_t i = 0; i < series.size(); ++i) {
            out += ',';
            if (next[i] < end[i] && series[i].Time(next[i]) == t) {
                const float v = series[i].Value(next[i]++);
                ++done;
                if (std::isnan(v)) {
                    out += "nan";
                } else {
                    const auto r = std::to_chars(num, num + sizeof num, v);
                    out.append(num, r.ptr);
                }
            }
        }
        out += "\r\n";
        if (out.size() >= (1u << 16)) {
            if (cancel.load()) {
                error = std::strerror(ECANCELED);
                return false;
            }
            if (!WriteAll(fd, out.data(), out.size(), error))
                return false;
            out.clear();
            percent = total ? int(done * 100 / total) : 100;
        }
    }
    if (!WriteAll(fd, out.data(), out.size(), error))
        return false;
    percent = 100;
    return true;
}

TPlotExport::~TPlotExport() {
    Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

bool TPlotExport::Start(const std::string& path, TJob job) {
    if (m_thread.joinable()) {
        if (!m_done.load())
            return false;
        m_thread.join();
    }
    m_cancel = false;
    m_done = false;
    m_percent = 0;
    m_ok = false;
    m_error.clear();
    m_thread = std::thread([this, path, job = std::move(job)] {
        std::string error;
        bool ok = false;
        const int fd = OpenRegularFileToWrite(path, error);
        if (fd >= 0) {
            ok = job(fd, m_cancel, m_percent, error);
            if (::close(fd) != 0 && ok) {
                ok = false;
                error = std::strerror(errno);
            }
            if (!ok)
                ::unlink(path.c_str()); // no half-written export is left behind
        }
        m_ok = ok;
        m_error = error;
        m_done = true;
    });
    return true;
}

bool TPlotExport::Finish(std::string& error) {
    if (m_thread.joinable())
        m_thread.join();
    error = m_error;
    return m_ok;
}
