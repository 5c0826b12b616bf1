#include "jobs/TestDialog.h"

#include "jobs/JobMessages.h"
#include "jobs/JobReport.h"
#include "platform/Paths.h"

CTestDialog::CTestDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kTestCaption, jobmsg::kQuitTest, jobmsg::kQuitTestCaption,
                 jobmsg::kTestingFile) {
    HideRatio();
}

CJobRunner::Body CTestDialog::Prepare() {
    Log(QString::fromLatin1(jobmsg::kTestingFiles));
    std::vector<std::string> names;
    for (const QString& name : entryNames)
        if (!name.isEmpty()) names.push_back(platform::ToCore(name));
    // Nothing named is nothing to test (the job would test every entry).
    if (archivePath.isEmpty() || names.empty()) return {};
    SetArchivePathText(archivePath);
    return [archive = platform::ToCore(archivePath), names](const velmora::JobOptions& options) {
        return velmora::Archive::At(archive).Test(names, options);
    };
}

void CTestDialog::Report(const velmora::ItemReport& result) {
    const QString name = ItemName(ItemOf(result));
    const QString why = platform::FromCore(result.reason);
    switch (result.outcome) {
        case velmora::Outcome::Passed:
            Log(name + QString::fromLatin1(jobmsg::kTestOk));
            return;
        case velmora::Outcome::Unverified:
            Log(name + QString::fromLatin1(jobmsg::kTestNoChecksum));
            return;
        case velmora::Outcome::Damaged:
            // A finding of the test, not a failure of the window: the log
            // and the summary tell it.
            Log(name + QString::fromLatin1(jobmsg::kTestDamaged) + QString::fromLatin1(jobmsg::kDamagedData), why);
            return;
        default:
            // The entry could not be tested at all (not there, the archive
            // unreadable): as every other job, a box says why.
            ShowFailure(result);
            Log(name + QString::fromLatin1(jobmsg::kTestFailed) + why);
            return;
    }
}

bool CTestDialog::KeepsOpen() const { return KeepsTestOpen(Summary()); }
