#include "jobs/DecompressDialog.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

#include "jobs/JobMessages.h"
#include "las/LasException.h"
#include "platform/Paths.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

CDecompressDialog::CDecompressDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kDecompressCaption, jobmsg::kQuitDecompression,
                 jobmsg::kQuitDecompressionCaption, jobmsg::kSummaryExtracted) {}

void CDecompressDialog::RequestStop() { archive.AbortDecompression(); }

void CDecompressDialog::Work() {
    Log(QString::fromLatin1(jobmsg::kDecompressingFiles));
    const int count = static_cast<int>(entryNames.size());
    for (int i = 0; i < count; ++i) {
        WaitWhilePaused();
        if (aborting) break;
        SetFilesText(i + 1, count);
        ExtractOne(entryNames[i]);
        // No folder chosen: the job ends here.
        if (outputFolder.isEmpty()) break;
    }
}

void CDecompressDialog::ExtractOne(const QString& name) {
    SetProgress(0);
    if (archivePath.isEmpty() || name.isEmpty()) return;
    if (outputFolder.isEmpty()) {
        const QString chosen = AskFolder();
        if (chosen.isEmpty()) return;
        outputFolder = platform::WithTrailingSeparator(chosen);
    }
    SetArchivePathText(archivePath);
    SetActionText(QString::fromLatin1(jobmsg::kDecompressingFile) + name + QString::fromLatin1(jobmsg::kEllipsis));
    Log(QString::fromLatin1(jobmsg::kDecompressingFile) + name);

    const QString outputPath = outputFolder + name;
    const bool existed = QFileInfo::exists(outputPath);
    if (existed) {
        const MsgResult answer = Ask(outputPath + QString::fromLatin1(jobmsg::kFileExists),
                                     MsgButtons::OkCancel, MsgIcon::Question);
        if (aborting) return;
        if (answer != MsgResult::Ok) {
            ++tally.skipped;
            return;
        }
    }
    try {
        archive.ExtractEntry(platform::ToCore(archivePath), platform::ToCore(name),
                             platform::ToCore(outputFolder));
    } catch (const std::exception& e) {
        if (aborting || dynamic_cast<const CStopRequested*>(&e)) {
            // A half-written LAS file is of no use to anyone; one that was
            // there before is the user's and stays.
            if (!existed) QFile::remove(outputPath);
            return;
        }
        ++tally.failed;
        if (dynamic_cast<const CLasException*>(&e)) stopDisplay = true;
        ShowError(platform::FromCore(e.what()));
        // The log names every entry that did not come out.
        Log(QString::fromLatin1(jobmsg::kDecompressingFile) + name + QString::fromLatin1(jobmsg::kFailed));
        return;
    }
    ++tally.done;
}
