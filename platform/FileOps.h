#pragma once

#include <string>
#include <string_view>

namespace gardivo {

// Owns a file descriptor and closes it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Creates the directory and any missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

// Writes path + ".tmp", flushes it and renames it over path, so a reader sees the old file or the
// new one, never a part of either. On failure the old file is left as it was.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string* error = nullptr);

} // namespace gardivo
