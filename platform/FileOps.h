#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

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

// An advisory lock on a lock file (created when missing), held for the object's life. The
// programs of the suite take the same lock file before they rewrite a shared file, so two
// writers never interleave.
class FileLock {
public:
    FileLock(const std::string& lockPath, bool exclusive);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Writes all of the bytes, going on after interruptions and short writes; false (errno set, ENOSPC
// when the disk took nothing more) when that cannot be done.
bool WriteAll(int fd, const void* data, size_t size);

// Creates the directory and any missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

// Writes a temporary file of a name no other writer uses, flushes it and renames it over path,
// so a reader sees the old file or the new one, never a part of either. On failure the old file
// is left as it was. The new file gets the mode given.
bool ReplaceFile(const std::string& path, std::string_view contents, std::string* error = nullptr,
                 mode_t mode = 0644);

// Appends "TEXT (YYYY/MM/DD hh:mm:ss)" and a newline to a log, making its folder first; false when
// the log cannot be written.
bool AppendLogLine(const std::string& path, const std::string& text);

} // namespace gardivo
