#pragma once

// The two tables of skin windows: every open window, and the windows by the name their page
// registered ("ControlPanel", "Screen", "History", or any other). Each table has its own lock and
// no operation holds both. The windows themselves live on the GUI thread and only it adds,
// removes or uses them; other threads (the engine's) only ask whether a name is registered.

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace gardivo {

template <typename Window>
class BasicWindowRegistry {
public:
    // --- the table of open windows ---
    void add(Window* window) {
        std::lock_guard lock(m_windowsMutex);
        if (std::find(m_windows.begin(), m_windows.end(), window) == m_windows.end())
            m_windows.push_back(window);
    }
    bool remove(Window* window) {
        std::lock_guard lock(m_windowsMutex);
        const auto it = std::find(m_windows.begin(), m_windows.end(), window);
        if (it == m_windows.end())
            return false;
        m_windows.erase(it);
        return true;
    }
    bool contains(const Window* window) const {
        std::lock_guard lock(m_windowsMutex);
        return std::find(m_windows.begin(), m_windows.end(), window) != m_windows.end();
    }
    // In the order they were opened; a copy, so the caller may close windows while walking it.
    std::vector<Window*> windows() const {
        std::lock_guard lock(m_windowsMutex);
        return m_windows;
    }

    // --- the table by registered name (names are compared exactly) ---
    // False, and nothing changes, when another window has the name; registering a name the
    // window already has succeeds.
    bool addName(const std::string& name, Window* window) {
        std::lock_guard lock(m_namesMutex);
        const auto [it, inserted] = m_names.emplace(name, window);
        return inserted || it->second == window;
    }
    Window* find(const std::string& name) const {
        std::lock_guard lock(m_namesMutex);
        const auto it = m_names.find(name);
        return it == m_names.end() ? nullptr : it->second;
    }
    bool hasName(const std::string& name) const { return find(name) != nullptr; }
    // Every name of the window goes.
    void removeNames(const Window* window) {
        std::lock_guard lock(m_namesMutex);
        std::erase_if(m_names, [window](const auto& entry) { return entry.second == window; });
    }
    std::vector<Window*> namedWindows() const {
        std::lock_guard lock(m_namesMutex);
        std::vector<Window*> named;
        for (const auto& [name, window] : m_names)
            if (std::find(named.begin(), named.end(), window) == named.end())
                named.push_back(window);
        return named;
    }

    // Both tables emptied, one after the other.
    void clear() {
        {
            std::lock_guard lock(m_windowsMutex);
            m_windows.clear();
        }
        std::lock_guard lock(m_namesMutex);
        m_names.clear();
    }

private:
    mutable std::mutex m_windowsMutex;
    std::vector<Window*> m_windows;
    mutable std::mutex m_namesMutex;
    std::map<std::string, Window*> m_names;
};

class SkinWindow;
using WindowRegistry = BasicWindowRegistry<SkinWindow>;

} // namespace gardivo
