#include "jobs/DecompressDialog.h"

#include "jobs/JobMessages.h"
#include "jobs/JobReport.h"
#include "platform/Paths.h"

CDecompressDialog::CDecompressDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kDecompressCaption, jobmsg::kQuitDecompression,
                 jobmsg::kQuitDecompressionCaption, jobmsg::kDecompressingFile) {}

CJobRunner::Body CDecompressDialog::Prepare() {
    Log(QString::fromLatin1(jobmsg::kDecompressingFiles));
    if (archivePath.isEmpty()) return {};
    // An entry without a name is passed over.
    std::vector<std::string> names;
    for (const QString& name : entryNames)
        if (!name.isEmpty()) names.push_back(platform::ToCore(name));
    if (!wholeArchive && names.empty()) return {};
    if (outputFolder.isEmpty()) {
        const QString chosen = AskFolder();
        // No folder chosen: the job ends before it began.
        if (chosen.isEmpty()) return {};
        outputFolder = platform::WithTrailingSeparator(chosen);
    }
    SetArchivePathText(archivePath);
    if (wholeArchive) names.clear();
    return [archive = platform::ToCore(archivePath), names, folder = platform::ToCore(outputFolder)](
               const velmora::JobOptions& options) {
        return velmora::Archive::At(archive).Extract(names, folder, options);
    };
}

void CDecompressDialog::Report(const velmora::ItemReport& result) {
    // Extracted, or declined (that file is skipped): nothing more to say.
    if (result.outcome == velmora::Outcome::Extracted || result.outcome == velmora::Outcome::Declined) return;
    StopProgressDisplay();
    ShowFailure(result);
    // The log names every entry that did not come out.
    Log(QString::fromLatin1(jobmsg::kDecompressingFile) + ItemName(ItemOf(result)) +
        QString::fromLatin1(jobmsg::kFailed) + platform::FromCore(result.message));
}
