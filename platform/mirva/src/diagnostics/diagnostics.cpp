// Diagnostic lines on standard error, the global debug mask and the camera threads' SIGABRT handler.
#include <mirva/server.h>

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

int debug_from_environment() {
    const char* text = std::getenv("MIRVA_DEBUG");
    if (!text || !*text) return 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);  // decimal or 0x hex
    if (end == text) return 0;
    return static_cast<int>(v);
}

// One write(2) per line so that lines of different threads never interleave.
void write_line(const std::string& line) {
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace

std::atomic<int> MIRVA_debug{debug_from_environment()};

void printtostderr(const char* prefix, const char* text) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &local);
    char stamp[48];
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(tv.tv_usec / 1000));

    std::string body = text ? text : "";
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    for (char& c : body) {
        if (c == '\n' || c == '\r') c = ' ';  // a message stays one line
    }
    std::string line = stamp;
    line += ' ';
    if (prefix && *prefix) {
        line += prefix;
        line += ": ";
    }
    line += body;
    line += '\n';
    write_line(line);
}

void printftostderr(const char* prefix, const char* format, ...) {
    char small[512];
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0) {
        va_end(copy);
        printtostderr(prefix, format);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(copy);
        printtostderr(prefix, small);
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    big.resize(static_cast<size_t>(n));
    printtostderr(prefix, big.c_str());
}

void writer_abrt_handler(int) {
    // Nothing to do: delivery alone interrupts the thread's blocking call.
}
