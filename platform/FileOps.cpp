#include "FileOps.h"

#include "FileProbes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
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
    return DirectoryExists(path);
}

bool ReplaceFile(const std::string& path, std::string_view contents, std::string* error) {
    const auto fail = [&](const std::string& what, const std::string& temp) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    };
    const std::string temp = path + ".tmp";
    FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        if (error)
            *error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd.get(), contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write " + temp, temp);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0)
        return fail("cannot flush " + temp, temp);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail("cannot replace " + path, temp);
    return true;
}

} // namespace gardivo
