#pragma once

#include <string>

namespace gardivo {

// The named lock one copy of a program holds for its whole life ("GDMutex"): an exclusive lock on
// a lock file of that name in the user's runtime directory.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Held by this process.
    bool acquired() const { return m_acquired; }
    // The lock file could not even be made.
    bool failed() const { return m_fd < 0; }

private:
    int m_fd = -1;
    bool m_acquired = false;
};

} // namespace gardivo
