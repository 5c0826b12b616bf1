#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures (tool bar, archive, logo), drawn from the SVG
// files bundled as resources. They are rendered here rather than through an
// icon plugin, so they show wherever the program runs.
namespace appicons {
// name: "new", "open", "add", "extract", "delete", "find", "view", "about",
// "archive", "logo".
QIcon Icon(const QString& name);
QPixmap Picture(const QString& name, int size);
// Registers the bundled files (pictures, help pages); safe to call often.
void EnsureResources();
}  // namespace appicons
