#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>

#include <memory>
#include <ostream>
#include <vector>

#include "ScriptedUi.h"
#include "TestSupport.h"
#include "platform/Mounts.h"
#include "velmora/velmora.hpp"

class CMainFrame;

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace guitest {

// The items of a job's report that came to outcome.
inline std::size_t CountOf(const velmora::JobReport& report, velmora::Outcome outcome) {
    std::size_t n = 0;
    for (const velmora::ItemReport& r : report.items) n += r.outcome == outcome ? 1 : 0;
    return n;
}

// A fresh settings store, a scripted platform and a folder that the tree
// shows as its only top-level place.
class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The frame as start-up makes it: created, first update, activated.
    std::unique_ptr<CMainFrame> StartFrame();
    // Closes the frame as the user would (the settings are written).
    void CloseFrame(std::unique_ptr<CMainFrame>& frame);

    QString Root() const;                       // the place's path, with "/"
    QString MakeFolder(const QString& rel);     // below the place; returns its path
    QString MakeFile(const QString& rel, qint64 size = 10);
    static void WriteSetting(const char* name, const QString& value);
    static QString ReadSetting(const char* name);

    testsupport::TempDir temp;
    ScriptedUi ui;
    std::vector<platform::MountPoint> places;
};

}  // namespace guitest
