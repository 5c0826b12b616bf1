#pragma once

#include <QMap>
#include <QString>

#include <vector>

namespace platform {

enum class MountKind { Root, Home, Fixed, Removable, Optical, Remote };

// One top-level node of the folder tree: a place where browsing starts.
struct MountPoint {
    QString path;   // always ends with a separator
    QString label;  // volume name or a readable fallback
    MountKind kind = MountKind::Fixed;

    // "Label (path)" as the tree shows it.
    QString NodeText() const;
};

// Undoes the octal escapes of the mount table ("\040" for a blank).
QString UnescapeMountField(const QString& field);

// Builds the top-level list from the text of a mount table: the root and the
// home folder first, then every real mounted volume in table order. Pseudo
// and system file systems are left out, and so are duplicates. labelsByDevice
// maps a device path to its volume name.
std::vector<MountPoint> ParseMountTable(const QString& table, const QString& home,
                                        const QMap<QString, QString>& labelsByDevice);

// The top-level list of this machine; mount points that are not readable
// folders are dropped.
std::vector<MountPoint> SystemMounts();

// Index of the entry whose path is the longest prefix of path (on component
// boundaries), or -1.
int MatchMount(const std::vector<MountPoint>& mounts, const QString& path);

}  // namespace platform
