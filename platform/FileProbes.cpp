#include "FileProbes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

bool FileExists(const std::string& path) {
    if (path.empty())
        return false;
    // O_NONBLOCK so that a FIFO of the name does not hold the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool file = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return file;
}

bool DirectoryExists(const std::string& path) {
    if (path.empty())
        return false;
    if (::mkdir(path.c_str(), 0755) == 0) {
        ::rmdir(path.c_str());
        return false;
    }
    return errno == EEXIST;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace gardivo
