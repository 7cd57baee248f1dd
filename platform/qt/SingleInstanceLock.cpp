#include "SingleInstanceLock.h"

#include "LocalEndpoint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace gardivo {

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    // Beside the endpoints: the same per-user runtime directory.
    const std::string path = LocalEndpoint::pathFor(name) + ".lock";
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0)
        m_acquired = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace gardivo
