#include "WorkingDirWatcher.h"

#include "monitor/messages/WindowMessages.h"
#include "platform/ProgramDirectory.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace gardivo {

namespace {

constexpr uint32_t kDirectoryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

WorkingDirWatcher::WorkingDirWatcher(std::string workingDirectory, MessageSink& sink, Reporter& reporter)
    : m_directory(std::move(workingDirectory)), m_sink(sink), m_reporter(reporter) {}

WorkingDirWatcher::~WorkingDirWatcher() {
    stop();
}

void WorkingDirWatcher::addWatches(const std::string& directory) {
    const int wd = ::inotify_add_watch(m_inotify, directory.c_str(), kDirectoryEvents);
    if (wd < 0)
        return;
    m_watches[wd] = directory;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    std::vector<std::string> children;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && entry->d_type == DT_DIR)
            children.push_back(joinPath(directory, name));
    }
    ::closedir(dir);
    for (const auto& child : children)
        addWatches(child);
}

bool WorkingDirWatcher::start() {
    if (isRunning())
        return true;
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wakeup = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The watcher itself cannot be had: that is said.
    if (m_inotify < 0 || m_wakeup < 0) {
        stop();
        m_reporter.show({"CreateThreadForCheckDB() Failed", Reporter::kCaption, MessageIcon::Error,
                         MessageButtons::Ok, true});
        return false;
    }
    // A directory that cannot be watched (not there, not readable) ends the watch quietly.
    addWatches(m_directory);
    if (m_watches.empty()) {
        stop();
        return false;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void WorkingDirWatcher::stop() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wakeup, &one, sizeof one);
        m_thread.join();
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_wakeup >= 0)
        ::close(m_wakeup);
    m_inotify = m_wakeup = -1;
    m_watches.clear();
}

void WorkingDirWatcher::run() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wakeup, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        bool directoryChanged = false;
        ssize_t n;
        while ((n = ::read(m_inotify, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                p += sizeof(inotify_event) + event->len;
                if (event->mask & IN_IGNORED) {
                    m_watches.erase(event->wd);
                    continue;
                }
                const bool isDirectory = event->mask & IN_ISDIR;
                if (isDirectory || (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)))
                    directoryChanged = true;
                // New directories are watched too, so the whole tree stays covered.
                if (isDirectory && (event->mask & (IN_CREATE | IN_MOVED_TO)) && event->len > 0) {
                    const auto parent = m_watches.find(event->wd);
                    if (parent != m_watches.end())
                        addWatches(joinPath(parent->second, event->name));
                }
            }
        }
        if (!directoryChanged)
            continue;
        const char* target = m_sink.windowExists(kHistory) ? kHistory : kControlPanel;
        if (m_sink.windowExists(target))
            m_sink.postMessage(target, WM_APP_PRUNE_HISTORY, 0, 0);
        if (m_watches.empty())
            return; // the working directory itself is gone: nothing left to watch
    }
}

} // namespace gardivo
