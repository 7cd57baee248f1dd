#include "LocalFileSystems.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace gardivo {

namespace {

const std::set<std::string> kNetworkTypes{"nfs",   "nfs4", "cifs",   "smb3",      "smbfs",
                                          "ncpfs", "afs",  "ceph",   "glusterfs", "9p",
                                          "davfs", "coda", "lustre", "gfs2",      "ocfs2"};
const std::set<std::string> kMemoryTypes{"tmpfs", "ramfs", "devtmpfs"};
const std::set<std::string> kRemovableTypes{"iso9660", "udf"};
const std::set<std::string> kKernelTypes{
    "proc",    "sysfs",       "cgroup",     "cgroup2", "devpts",   "mqueue",    "securityfs",
    "debugfs", "tracefs",     "configfs",   "pstore",  "bpf",      "fusectl",   "hugetlbfs",
    "autofs",  "binfmt_misc", "rpc_pipefs", "nsfs",    "efivarfs", "selinuxfs", "squashfs"};

// Mount points write space, tab, newline and backslash as octal escapes.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string readLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A block device on removable media, or on USB.
bool isRemovableDevice(const std::string& source) {
    if (source.rfind("/dev/", 0) != 0)
        return false;
    std::error_code ec;
    const fs::path real = fs::canonical(source, ec);
    if (ec)
        return false;
    fs::path block = fs::path("/sys/class/block") / real.filename();
    if (!fs::exists(block, ec))
        return false;
    const fs::path device = fs::canonical(block, ec);
    if (ec)
        return false;
    if (device.string().find("/usb") != std::string::npos)
        return true;
    // A partition's disk is the folder above it.
    const fs::path disk = fs::exists(device / "partition", ec) ? device.parent_path() : device;
    return readLine(disk / "removable") == "1";
}

} // namespace

DriveKind driveKind(const MountedFileSystem& fs) {
    const std::string& type = fs.type;
    if (kKernelTypes.count(type))
        return DriveKind::Kernel;
    if (kMemoryTypes.count(type))
        return DriveKind::Memory;
    if (kNetworkTypes.count(type) || type.rfind("fuse", 0) == 0)
        return DriveKind::Network;
    if (fs.removable || kRemovableTypes.count(type))
        return DriveKind::Removable;
    // A read-only file system is no place for evidence.
    if (fs.readOnly)
        return DriveKind::Kernel;
    return DriveKind::LocalHardDrive;
}

std::vector<MountedFileSystem> parseMountInfo(const std::string& text) {
    std::vector<MountedFileSystem> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; fields >> part;)
            parts.push_back(part);
        const auto dash = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 6 || dash == parts.end() || std::distance(dash, parts.end()) < 3)
            continue;
        MountedFileSystem mount;
        mount.mountPoint = unescape(parts[4]);
        const std::string& options = parts[5];
        mount.readOnly = options == "ro" || options.rfind("ro,", 0) == 0;
        mount.type = *(dash + 1);
        mount.source = unescape(*(dash + 2));
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::vector<MountedFileSystem> systemMounts() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    std::vector<MountedFileSystem> mounts = parseMountInfo(text.str());
    for (auto& mount : mounts)
        mount.removable = isRemovableDevice(mount.source);
    return mounts;
}

std::optional<MountedFileSystem> mountOf(const std::vector<MountedFileSystem>& mounts,
                                         const std::string& path) {
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    // Links in the part that exists are followed; the rest is taken as written.
    std::error_code ec;
    const fs::path wanted = fs::path(path).lexically_normal();
    fs::path existing = wanted;
    while (!fs::exists(existing, ec) && existing.has_parent_path() && existing != existing.root_path())
        existing = existing.parent_path();
    fs::path resolved = fs::canonical(existing, ec);
    if (ec)
        resolved = existing;
    resolved /= wanted.lexically_relative(existing);
    std::string where = resolved.lexically_normal().string();
    while (where.size() > 1 && where.back() == '/')
        where.pop_back();
    std::optional<MountedFileSystem> found;
    size_t longest = 0;
    // Later mounts hide earlier ones at the same place: the last match of the longest prefix wins.
    for (const auto& mount : mounts) {
        const std::string& point = mount.mountPoint;
        const bool holds = where == point || point == "/" ||
                           (where.size() > point.size() && where.compare(0, point.size(), point) == 0 &&
                            where[point.size()] == '/');
        if (holds && point.size() >= longest) {
            longest = point.size();
            found = mount;
        }
    }
    return found;
}

std::vector<MountedFileSystem> driveList(const std::vector<MountedFileSystem>& mounts) {
    std::vector<MountedFileSystem> list;
    for (const auto& mount : mounts) {
        const DriveKind kind = driveKind(mount);
        if (kind == DriveKind::Kernel || kind == DriveKind::Memory)
            continue;
        // A later mount at the same place is the one that counts.
        std::erase_if(list, [&](const MountedFileSystem& m) { return m.mountPoint == mount.mountPoint; });
        list.push_back(mount);
    }
    std::sort(list.begin(), list.end(), [](const MountedFileSystem& a, const MountedFileSystem& b) {
        return a.mountPoint < b.mountPoint;
    });
    return list;
}

} // namespace gardivo
