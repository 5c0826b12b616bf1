#include "platform/Mounts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "platform/Paths.h"

namespace platform {

namespace {

const QSet<QString>& PseudoTypes() {
    static const QSet<QString> types = {
        "proc",     "sysfs",      "devtmpfs", "devpts",     "tmpfs",     "securityfs",
        "cgroup",   "cgroup2",    "pstore",   "efivarfs",   "bpf",       "debugfs",
        "tracefs",  "mqueue",     "hugetlbfs", "configfs",  "fusectl",   "binfmt_misc",
        "autofs",   "rpc_pipefs", "nsfs",     "ramfs",      "selinuxfs", "overlay",
        "squashfs", "nfsd",       "devfs",    "none",       "fuse.gvfsd-fuse",
        "fuse.portal", "fuse.lxcfs"};
    return types;
}

bool IsSystemPlace(const QString& mountPath) {
    // Kernel and runtime trees hold no user data; removable media mounted
    // below /run/media are the exception.
    static const char* const prefixes[] = {"/proc", "/sys", "/dev", "/run", "/snap", "/boot"};
    if (mountPath.startsWith(QLatin1String("/run/media/"))) return false;
    for (const char* p : prefixes) {
        const QString pre = QLatin1String(p);
        if (mountPath == pre || mountPath.startsWith(pre + QLatin1Char('/'))) return true;
    }
    return false;
}

MountKind KindOf(const QString& device, const QString& type, const QString& mountPath) {
    if (type == QLatin1String("iso9660") || type == QLatin1String("udf")) return MountKind::Optical;
    if (type.startsWith(QLatin1String("nfs")) || type == QLatin1String("cifs") ||
        type == QLatin1String("smb3") || type == QLatin1String("fuse.sshfs") ||
        device.startsWith(QLatin1String("//")))
        return MountKind::Remote;
    if (mountPath.startsWith(QLatin1String("/media/")) ||
        mountPath.startsWith(QLatin1String("/run/media/")))
        return MountKind::Removable;
    return MountKind::Fixed;
}

}  // namespace

QString MountPoint::NodeText() const {
    return label + QLatin1String(" (") + WithoutTrailingSeparator(path) + QLatin1Char(')');
}

QString UnescapeMountField(const QString& field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code < 256) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountPoint> ParseMountTable(const QString& table, const QString& home,
                                        const QMap<QString, QString>& labelsByDevice) {
    std::vector<MountPoint> out;
    out.push_back({QStringLiteral("/"), QStringLiteral("File System"), MountKind::Root});
    const QString homePath = WithTrailingSeparator(home);
    if (!home.isEmpty() && homePath != QLatin1String("/"))
        out.push_back({homePath, QStringLiteral("Home"), MountKind::Home});

    QSet<QString> seen;
    for (const MountPoint& m : out) seen.insert(m.path);

    const QStringList lines = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() < 3) continue;
        const QString device = UnescapeMountField(f[0]);
        const QString mountPath = UnescapeMountField(f[1]);
        const QString type = f[2];
        if (!mountPath.startsWith(QLatin1Char('/'))) continue;
        if (PseudoTypes().contains(type) || IsSystemPlace(mountPath)) continue;
        const QString path = WithTrailingSeparator(mountPath);
        if (seen.contains(path)) continue;
        seen.insert(path);

        MountPoint m;
        m.path = path;
        m.kind = KindOf(device, type, mountPath);
        m.label = labelsByDevice.value(device);
        if (m.label.isEmpty()) {
            if (m.kind == MountKind::Optical)
                m.label = QStringLiteral("CD/DVD drive");
            else
                m.label = FileNamePart(mountPath);
        }
        out.push_back(m);
    }
    return out;
}

std::vector<MountPoint> SystemMounts() {
    QMap<QString, QString> labels;
    QDirIterator it(QStringLiteral("/dev/disk/by-label"), QDir::Files | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        labels.insert(fi.canonicalFilePath(), UnescapeMountField(fi.fileName().replace(
                                                  QLatin1String("\\x20"), QLatin1String(" "))));
    }
    QString table;
    QFile f(QStringLiteral("/proc/self/mounts"));
    if (f.open(QIODevice::ReadOnly)) table = QString::fromUtf8(f.readAll());

    std::vector<MountPoint> all = ParseMountTable(table, QDir::homePath(), labels);
    std::vector<MountPoint> usable;
    for (MountPoint& m : all) {
        const QFileInfo fi(m.path);
        if (fi.isDir() && fi.isReadable()) usable.push_back(std::move(m));
    }
    return usable;
}

int MatchMount(const std::vector<MountPoint>& mounts, const QString& path) {
    const QString p = WithTrailingSeparator(path);
    int best = -1;
    qsizetype bestLen = -1;
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const QString& root = mounts[i].path;
        if (p.startsWith(root) && root.size() > bestLen) {
            best = static_cast<int>(i);
            bestLen = root.size();
        }
    }
    return best;
}

}  // namespace platform
