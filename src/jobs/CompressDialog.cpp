#include "jobs/CompressDialog.h"

#include <QFileInfo>

#include <exception>

#include "jobs/JobMessages.h"
#include "las/LasException.h"
#include "platform/Paths.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

CCompressDialog::CCompressDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kCompressCaption, jobmsg::kQuitCompression,
                 jobmsg::kQuitCompressionCaption, jobmsg::kSummaryAdded) {}

QString CCompressDialog::ProposedArchiveName(const QString& lasPath) {
    const qsizetype dot = lasPath.lastIndexOf(QLatin1Char('.'));
    // A dot inside a folder name is no extension of the file.
    const qsizetype sep = lasPath.size() - platform::FileNamePart(lasPath).size() - 1;
    const QString stem = (dot < 0 || dot < sep) ? lasPath : lasPath.left(dot);
    return stem + QString::fromLatin1(jobmsg::kArchiveExtension);
}

void CCompressDialog::RequestStop() { archive.AbortCompression(); }

void CCompressDialog::Work() {
    Log(QString::fromLatin1(jobmsg::kCompressingFiles));
    const int count = static_cast<int>(lasPaths.size());
    if (count < 1 || displayNames.size() != lasPaths.size()) return;
    for (int i = 0; i < count; ++i) {
        WaitWhilePaused();
        if (aborting) break;
        SetFilesText(i + 1, count);
        if (!ProcessFile(lasPaths[i], displayNames[i])) break;
    }
}

bool CCompressDialog::ProcessFile(const QString& lasPath, const QString& name) {
    SetProgress(0);
    if (lasPath.isEmpty() || name.isEmpty()) return true;
    if (archivePath.isEmpty()) {
        const QString chosen = AskSaveFile(ProposedArchiveName(lasPath));
        // Cancel in the chooser ends the whole command, not just this file.
        if (chosen.isEmpty()) return false;
        archivePath = chosen;
    }
    if (!platform::HasSuffixNoCase(archivePath, QString::fromLatin1(jobmsg::kArchiveExtension)))
        archivePath += QString::fromLatin1(jobmsg::kArchiveExtension);
    if (!QFileInfo::exists(archivePath)) archiveCreated = true;

    SetArchivePathText(archivePath);
    SetActionText(QString::fromLatin1(jobmsg::kCompressingFile) + name + QString::fromLatin1(jobmsg::kEllipsis));
    Log(QString::fromLatin1(jobmsg::kCompressingFile) + name);

    const std::string las = platform::ToCore(lasPath);
    const std::string arc = platform::ToCore(archivePath);
    // Every failure is in the log, so the user sees at the end which files
    // went in and which did not.
    const QString failedLine = QString::fromLatin1(jobmsg::kCompressingFile) + name;
    bool exists = false;
    try {
        exists = archive.ContainsEntry(arc, las);
    } catch (const std::exception& e) {
        ++tally.failed;
        ShowError(platform::FromCore(e.what()));
        Log(failedLine + QString::fromLatin1(jobmsg::kFailed));
        return true;
    }

    if (exists) {
        const MsgResult answer = Ask(name + QString::fromLatin1(jobmsg::kLasExists), MsgButtons::OkCancel,
                                     MsgIcon::Question);
        if (aborting) return true;
        if (answer != MsgResult::Ok) {
            ++tally.skipped;
            stopDisplay = true;
            return true;
        }
    }
    try {
        archive.AddLasFile(las, arc);
    } catch (const CStopRequested&) {
        // Abort: the archive code has put the archive back; nothing to report.
        return true;
    } catch (const std::exception& e) {
        if (aborting) return true;
        const auto* lasError = dynamic_cast<const CLasException*>(&e);
        const bool refused = lasError && lasError->canContinue;
        ++(refused ? tally.refused : tally.failed);
        if (exists || !refused) stopDisplay = true;
        ShowError(platform::FromCore(e.what()));
        Log(failedLine + QString::fromLatin1(exists ? jobmsg::kFailure : jobmsg::kFailed));
        return true;
    }
    ++tally.done;
    if (archiveCreated) archiveCreated = QFileInfo::exists(archivePath);
    return true;
}
