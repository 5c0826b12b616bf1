#include "GuiFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "app/MainFrame.h"
#include "platform/Settings.h"

namespace guitest {

void GuiFixture::SetUp() {
    QSettings s(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
    s.clear();
    s.sync();
    places = {{Root(), QStringLiteral("Data"), platform::MountKind::Fixed}};
}

void GuiFixture::TearDown() {
    QSettings s(QStringLiteral("Velmora"), QStringLiteral("Velmora"));
    s.clear();
}

std::unique_ptr<CMainFrame> GuiFixture::StartFrame() {
    auto frame = std::make_unique<CMainFrame>(ui, &places);
    frame->ActivateFrame();
    QCoreApplication::processEvents();
    return frame;
}

void GuiFixture::CloseFrame(std::unique_ptr<CMainFrame>& frame) {
    frame->close();
    frame.reset();
}

QString GuiFixture::Root() const {
    return QString::fromStdString(temp.Path().string()) + QLatin1Char('/');
}

QString GuiFixture::MakeFolder(const QString& rel) {
    const QString p = Root() + rel;
    QDir().mkpath(p);
    return p;
}

QString GuiFixture::MakeFile(const QString& rel, qint64 size) {
    const QString p = Root() + rel;
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    f.open(QIODevice::WriteOnly);
    f.resize(size);
    return p;
}

void GuiFixture::WriteSetting(const char* name, const QString& value) {
    platform::CSettingsStore::Write(QString::fromLatin1(name), value);
}

QString GuiFixture::ReadSetting(const char* name) {
    return platform::CSettingsStore::Read(QString::fromLatin1(name));
}

}  // namespace guitest
