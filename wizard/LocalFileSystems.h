#pragma once

// The mounted file systems, in the part the setup wizard's directory chooser plays the drive
// list: a working directory must be on a local hard drive, that is a local, writable file system
// on a fixed disk (ext4, xfs, btrfs and the like). Network shares, removable media, memory file
// systems and the kernel's own are refused.

#include <optional>
#include <string>
#include <vector>

namespace gardivo {

struct MountedFileSystem {
    std::string mountPoint;
    std::string type;
    std::string source;
    bool readOnly = false;
    bool removable = false;
};

enum class DriveKind { LocalHardDrive, Network, Removable, Memory, Kernel };

DriveKind driveKind(const MountedFileSystem& fs);
inline bool isLocalHardDrive(const MountedFileSystem& fs) {
    return driveKind(fs) == DriveKind::LocalHardDrive;
}

// /proc/self/mountinfo, with removable media found through /sys/class/block.
std::vector<MountedFileSystem> systemMounts();
// Parses mountinfo text (no device lookups).
std::vector<MountedFileSystem> parseMountInfo(const std::string& text);

// The file system a path is on: the last mounted one whose mount point holds the path's
// nearest existing folder (links resolved).
std::optional<MountedFileSystem> mountOf(const std::vector<MountedFileSystem>& mounts,
                                         const std::string& path);

// What the drive list shows: every file system a user could mean (local, network, removable),
// not the memory and kernel ones, each mount point once.
std::vector<MountedFileSystem> driveList(const std::vector<MountedFileSystem>& mounts);

} // namespace gardivo
