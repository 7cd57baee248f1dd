#include "EvidenceRetention.h"

#include "platform/FileOps.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

std::string withSlash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

} // namespace

EvidenceRetention::EvidenceRetention(std::string workingDirectory, std::string historyDirectory,
                                     std::string logPath, FreeSpace freeSpace)
    : m_working(withSlash(std::move(workingDirectory))), m_historyDirectory(std::move(historyDirectory)),
      m_logPath(std::move(logPath)), m_freeSpace(std::move(freeSpace)) {}

bool EvidenceRetention::isRunName(const std::string& name) {
    // The name the engine gives a watching run: "%d.%02d.%02d_%02d.%02d.%02d" with a 4-digit year.
    static constexpr const char* kShape = "dddd.dd.dd_dd.dd.dd";
    if (name.size() != std::char_traits<char>::length(kShape))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (kShape[i] == 'd' ? !digit : name[i] != kShape[i])
            return false;
    }
    return true;
}

std::vector<EvidenceRetention::Run> EvidenceRetention::runs() const {
    std::vector<Run> found;
    DIR* dir = ::opendir(m_working.c_str());
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        // A link to a folder elsewhere is no run of ours, whatever its name.
        if (!isRunName(name) || ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode))
            continue;
        Run run{name, 0, 0, 0};
        const int fd = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (DIR* inner = fd >= 0 ? ::fdopendir(fd) : nullptr) {
            while (const dirent* file = ::readdir(inner)) {
                struct stat fs {};
                if (::fstatat(fd, file->d_name, &fs, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(fs.st_mode))
                    continue;
                run.bytes += static_cast<uint64_t>(fs.st_size);
                ++run.files;
                run.newest = std::max(run.newest, fs.st_mtime);
            }
            ::closedir(inner);
        } else if (fd >= 0) {
            ::close(fd);
        }
        // The folder's own time only says when a file last came or went; it counts for an empty one.
        if (run.files == 0)
            run.newest = st.st_mtime;
        found.push_back(run);
    }
    ::closedir(dir);
    // The names are times that sort as text.
    std::sort(found.begin(), found.end(), [](const Run& a, const Run& b) { return a.name < b.name; });
    return found;
}

void EvidenceRetention::log(const std::string& line) {
    AppendLogLine(m_logPath, "Gardivo Log: " + line);
}

bool EvidenceRetention::removeRun(const Run& run, const char* reason) {
    // The rows first, with the files they name (checked to lie in the run's folder); then what
    // else the folder holds (pictures of a reset, manual pictures, playable copies).
    HistoryStore history(m_historyDirectory);
    const DeleteOutcome rows = history.DeleteRecords(m_working, run.name, "");
    const std::string folder = m_working + run.name;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
                names.emplace_back(entry->d_name);
        }
        for (const auto& name : names)
            ::unlinkat(fd, name.c_str(), 0);
        ::closedir(dir);
    } else if (fd >= 0) {
        ::close(fd);
    }
    const bool gone = ::rmdir(folder.c_str()) == 0 || errno == ENOENT;
    std::string line = "Evidence of " + run.name + (gone ? " removed" : " partly removed") + " (" +
                       std::to_string(run.files) + " files, " + megabytes(run.bytes) + ", " +
                       std::to_string(rows.rowsDeleted) + " history rows): " + reason;
    if (!gone)
        line += "; the folder holds what is not evidence and was kept";
    log(line);
    return gone;
}

EvidenceRetention::Outcome EvidenceRetention::enforce(const RetentionLimits& limits,
                                                      const std::string& runningDirectory) {
    Outcome outcome;
    if (!limits.any())
        return outcome;
    const auto slash = runningDirectory.find_last_not_of('/');
    const std::string trimmed = slash == std::string::npos ? "" : runningDirectory.substr(0, slash + 1);
    const std::string running = trimmed.substr(trimmed.find_last_of('/') + 1);
    const bool runningHere = withSlash(trimmed.substr(0, trimmed.find_last_of('/') + 1)) == m_working;

    std::vector<Run> all = runs();
    std::vector<Run> removable;
    uint64_t total = 0;
    for (const Run& run : all) {
        total += run.bytes;
        if (!(runningHere && run.name == running))
            removable.push_back(run);
    }
    const auto remove = [&](const Run& run, const char* reason) {
        removeRun(run, reason);
        outcome.removed.push_back(run.name);
        outcome.bytesFreed += run.bytes;
        total -= std::min(total, run.bytes);
    };
    size_t next = 0;
    if (limits.maxDays > 0) {
        const std::time_t oldest = std::time(nullptr) - static_cast<std::time_t>(limits.maxDays) * 86400;
        const std::string reason = "older than " + std::to_string(limits.maxDays) + " days";
        // Oldest first by name; a run touched again later than a younger one keeps its place.
        std::vector<Run> keep;
        for (const Run& run : removable) {
            if (run.newest < oldest)
                remove(run, reason.c_str());
            else
                keep.push_back(run);
        }
        removable = std::move(keep);
    }
    if (limits.maxBytes > 0) {
        const std::string reason = "the evidence is above " + megabytes(limits.maxBytes);
        while (total > limits.maxBytes && next < removable.size())
            remove(removable[next++], reason.c_str());
    }
    if (limits.keepFreeBytes > 0 && m_freeSpace) {
        for (;;) {
            const auto free = m_freeSpace(m_working);
            if (!free || *free >= limits.keepFreeBytes || next >= removable.size())
                break;
            remove(removable[next++], "the disk is nearly full");
        }
    }
    return outcome;
}

} // namespace gardivo
