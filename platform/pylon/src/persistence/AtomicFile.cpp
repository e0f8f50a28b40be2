#include "persistence/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <GenICam/GCException.h>

namespace Pylon::persistence {

namespace {

constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

// Closes a descriptor when leaving scope.
class Fd {
public:
    explicit Fd(int fd) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
    throw RUNTIME_EXCEPTION("Feature file '%s': %s: %s", path.c_str(), what, std::strerror(error));
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& content) {
    if (path.empty())
        throw RUNTIME_EXCEPTION("Feature file name is empty");
    // A name of our own beside the target; O_EXCL makes sure it is ours alone.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            Fail("cannot create the temporary file", path, errno);
    }
    if (fd < 0)
        Fail("cannot create the temporary file", path, EEXIST);
    Fd file(fd);
    struct RemoveTemp {
        const std::string& name;
        bool armed = true;
        ~RemoveTemp() {
            if (armed)
                ::unlink(name.c_str());
        }
    } remove_temp{temp};

    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(file.get(), content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("cannot write", path, errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(file.get()) != 0)
        Fail("cannot flush to disk", path, errno);
    if (::close(file.release()) != 0)
        Fail("cannot close", path, errno);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        Fail("cannot replace the file", path, errno);
    remove_temp.armed = false;
    // Make the rename itself durable; a failure here leaves a complete file all the same.
    const Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

std::string ReadWholeFile(const std::string& path) {
    const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        Fail("cannot open", path, errno);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        Fail("cannot read its status", path, errno);
    if (!S_ISREG(st.st_mode))
        throw RUNTIME_EXCEPTION("Feature file '%s' is not a regular file", path.c_str());
    if (st.st_size > kMaxFileSize)
        throw RUNTIME_EXCEPTION("Feature file '%s' is too large (%lld bytes)", path.c_str(),
                                static_cast<long long>(st.st_size));
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("cannot read", path, errno);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > static_cast<std::size_t>(kMaxFileSize))
            throw RUNTIME_EXCEPTION("Feature file '%s' is too large", path.c_str());
    }
    return content;
}

} // namespace Pylon::persistence
