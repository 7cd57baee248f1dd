#pragma once

#include "monitor/messages/MessageSink.h"
#include "platform/Reporter.h"

#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace gardivo {

// Watches the working directory tree for directories that appear, vanish or are renamed, and
// then asks the history window (or the main window when there is none) to prune the history.
// The thread only posts messages; it never touches the database.
class WorkingDirWatcher {
public:
    WorkingDirWatcher(std::string workingDirectory, MessageSink& sink, Reporter& reporter);
    ~WorkingDirWatcher();
    WorkingDirWatcher(const WorkingDirWatcher&) = delete;
    WorkingDirWatcher& operator=(const WorkingDirWatcher&) = delete;

    // Starts watching; says "CreateThreadForCheckDB() Failed" and returns false when the watch
    // cannot be set up. Monitoring goes on without it.
    bool start();
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

private:
    void run();
    void addWatches(const std::string& directory);

    std::string m_directory;
    MessageSink& m_sink;
    Reporter& m_reporter;
    int m_inotify = -1;
    int m_wakeup = -1; // eventfd that ends the thread
    std::map<int, std::string> m_watches;
    std::thread m_thread;
};

} // namespace gardivo
