#include "FileOps.h"

#include "FileProbes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FileLock::FileLock(const std::string& lockPath, bool exclusive) {
    m_fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd); // closing drops the lock
}

bool MakeDirectories(const std::string& path) {
    if (path.empty())
        return false;
    for (size_t pos = 0; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string partial = path.substr(0, pos);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return isDirectory(path);
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string* error, mode_t mode) {
    std::string temp = path + ".tmp.XXXXXX";
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    };
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        if (error)
            *error = "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::fchmod(fd.get(), mode) != 0)
        return fail("cannot set the mode of " + temp);
    if (!WriteAll(fd.get(), contents.data(), contents.size()))
        return fail("cannot write " + temp);
    if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0)
        return fail("cannot flush " + temp);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail("cannot replace " + path);
    return true;
}

bool AppendLogLine(const std::string& path, const std::string& text) {
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(path.substr(0, slash));
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return false;
    const bool written =
        std::fprintf(f, "%s (%04d/%02d/%02d %02d:%02d:%02d)\n", text.c_str(), t.tm_year + 1900, t.tm_mon + 1,
                     t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec) > 0;
    return std::fclose(f) == 0 && written;
}

} // namespace gardivo
