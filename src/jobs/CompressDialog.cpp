#include "jobs/CompressDialog.h"

#include <utility>

#include "jobs/JobMessages.h"
#include "jobs/JobReport.h"
#include "platform/Paths.h"

CCompressDialog::CCompressDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kCompressCaption, jobmsg::kQuitCompression,
                 jobmsg::kQuitCompressionCaption, jobmsg::kCompressingFile) {}

QString CCompressDialog::ProposedArchiveName(const QString& lasPath) {
    const qsizetype dot = lasPath.lastIndexOf(QLatin1Char('.'));
    // A dot inside a folder name is no extension of the file.
    const qsizetype sep = lasPath.size() - platform::FileNamePart(lasPath).size() - 1;
    const QString stem = (dot < 0 || dot < sep) ? lasPath : lasPath.left(dot);
    return stem + QString::fromLatin1(jobmsg::kArchiveExtension);
}

void CCompressDialog::SetFiles(const QStringList& paths, const QStringList& names) {
    lasPaths = paths;
    displayNames = names;
}

CJobRunner::Body CCompressDialog::Prepare() {
    Log(QString::fromLatin1(jobmsg::kCompressingFiles));
    if (lasPaths.isEmpty() || displayNames.size() != lasPaths.size()) return {};
    // A file without a path or a name is passed over.
    std::vector<std::string> paths;
    shownNames.clear();
    for (qsizetype i = 0; i < lasPaths.size(); ++i) {
        if (lasPaths[i].isEmpty() || displayNames[i].isEmpty()) continue;
        paths.push_back(platform::ToCore(lasPaths[i]));
        shownNames << displayNames[i];
    }
    if (paths.empty()) return {};
    if (archivePath.isEmpty()) {
        const QString chosen = AskSaveFile(ProposedArchiveName(platform::FromCore(paths.front())));
        // Cancel in the chooser ends the whole command.
        if (chosen.isEmpty()) return {};
        archivePath = chosen;
    }
    archivePath = platform::FromCore(velmora::WithArchiveSuffix(platform::ToCore(archivePath)));
    SetArchivePathText(archivePath);
    return [paths, archive = platform::ToCore(archivePath)](const velmora::JobOptions& options) {
        return velmora::Archive::Compress(paths, archive, options);
    };
}

QString CCompressDialog::ItemName(const velmora::ItemStart& item) const {
    if (item.index >= static_cast<std::size_t>(shownNames.size())) return CJobDialog::ItemName(item);
    return platform::FromCore(velmora::EscapeName(platform::ToCore(shownNames[static_cast<qsizetype>(item.index)])));
}

QString CCompressDialog::FinalRatioText() const {
    const std::optional<double> ratio = BatchRatio(Summary());
    return ratio ? RatioShown(*ratio) : QString();
}

bool CCompressDialog::ConfirmReplace(const velmora::ItemStart& item) {
    replacing = CJobDialog::ConfirmReplace(item);
    return replacing;
}

void CCompressDialog::Report(const velmora::ItemReport& result) {
    const bool replaced = std::exchange(replacing, false);
    switch (result.outcome) {
        case velmora::Outcome::Added:
        case velmora::Outcome::Replaced:
            return;
        case velmora::Outcome::Declined:
            // The entry in the archive stays; the batch goes on, and so does
            // its progress. The log says so, since the box that asked is gone.
            Log(QString::fromLatin1(jobmsg::kCompressingFile) + ItemName(ItemOf(result)) +
                QString::fromLatin1(jobmsg::kKept));
            return;
        default:
            break;
    }
    // One file's failure never ends the batch, and every failure is in the
    // log, so the user sees at the end which files went in and which did not.
    if (replaced || result.outcome != velmora::Outcome::Refused) StopProgressDisplay();
    ShowFailure(result);
    Log(QString::fromLatin1(jobmsg::kCompressingFile) + ItemName(ItemOf(result)) +
        QString::fromLatin1(replaced ? jobmsg::kFailure : jobmsg::kFailed) + platform::FromCore(result.message));
}
