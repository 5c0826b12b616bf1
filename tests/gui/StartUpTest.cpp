#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "TestSupport.h"
#include "app/MainApp.h"
#include "app/CommandLine.h"

TEST(StartUpTest, WhichCommandLinesOpenTheWindow) {
    const char* none[] = {"velmora"};
    const char* archive[] = {"velmora", "x.VMRA"};
    const char* archiveDots[] = {"velmora", "my.data.vmra"};
    const char* las[] = {"velmora", "a.las"};
    const char* two[] = {"velmora", "x.vmra", "y.vmra"};
    const char* compress[] = {"velmora", "-c", "a.las", "x.vmra"};
    const char* noExt[] = {"velmora", "vmra"};
    const char* folderLike[] = {"velmora", "x.vmra/"};
    EXPECT_TRUE(IsWindowCommandLine(1, none));
    EXPECT_TRUE(IsWindowCommandLine(2, archive));
    EXPECT_TRUE(IsWindowCommandLine(2, archiveDots));
    EXPECT_FALSE(IsWindowCommandLine(2, las));
    EXPECT_FALSE(IsWindowCommandLine(3, two));
    EXPECT_FALSE(IsWindowCommandLine(4, compress));
    EXPECT_FALSE(IsWindowCommandLine(2, noExt));
    EXPECT_FALSE(IsWindowCommandLine(2, folderLike));
}

TEST(StartUpTest, ArchiveArgumentIsMadeAbsolute) {
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    QFile(folder + QStringLiteral("/x.vmra")).open(QIODevice::WriteOnly);
    QDir().mkpath(folder + QStringLiteral("/d.vmra"));
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    EXPECT_EQ(CMainApp::ArchiveArgument(QStringLiteral("x.vmra")), folder + QStringLiteral("/x.vmra"));
    EXPECT_EQ(CMainApp::ArchiveArgument(QStringLiteral("./x.vmra")), folder + QStringLiteral("/x.vmra"));
    EXPECT_EQ(CMainApp::ArchiveArgument(folder + QStringLiteral("/x.vmra")),
              folder + QStringLiteral("/x.vmra"));
    EXPECT_TRUE(CMainApp::ArchiveArgument(QStringLiteral("y.vmra")).isEmpty());
    EXPECT_TRUE(CMainApp::ArchiveArgument(QStringLiteral("d.vmra")).isEmpty());
    QDir::setCurrent(old);
}
