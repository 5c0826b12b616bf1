#pragma once

#include <QString>

#include <cstddef>
#include <utility>
#include <vector>

#include "velmora/velmora.hpp"

// What the details pane decides without a window: the texts of a LAS
// file's facts, the scale bar's label, and which pictures it keeps.
namespace listview {

// One line of the facts: its label (a listmsg text, by which tests and the
// pane find it) and what it says.
struct FactRow {
    const char* label;
    QString value;
};

// One VLR or EVLR: its user ID and record ID, and its description and size.
struct VlrRow {
    QString name;
    QString about;
};

struct FactsText {
    std::vector<FactRow> rows;
    std::vector<VlrRow> vlrs;
    std::vector<VlrRow> evlrs;
    // The value of the row labelled label ("" when there is none).
    QString Value(const char* label) const;
};

// Texts that come from the file (identifiers, descriptions, the coordinate
// system's name) are shown escaped, as entry names are: they are anyone's
// bytes.
FactsText DescribeFacts(const velmora::HeaderFacts& facts);

// A coordinate to the decimals its scale gives it (0.01: two), which is
// all the precision the points have.
QString FormatCoordinate(double value, double scale);
// "EPSG:2994, NAD83(HARN) / Oregon GIC Lambert (ft)"; either part alone;
// or the not-given text.
QString FormatCrs(const velmora::HeaderFacts& facts);
// The scale bar's label for a round length in the file's unit (as its
// coordinate system names it: "500 m", "200 ft (US)"); "500 units" when the
// file does not say.
QString ScaleBarText(double length, const std::string& unit = {});

// What a kept picture is kept for: the file (a LAS file or an archive),
// the entry at its place, and the file's size and time of change, so that
// a picture of an archive since changed is not shown again. Empty when the
// file is not there.
QString PreviewCacheKey(const QString& path, const QString& entry, qint64 index);

// The most recently used values, at most `most` of them; looking one up
// makes it the most recent.
template <class Value>
class CBoundedCache {
public:
    explicit CBoundedCache(std::size_t most) : most(most) {}

    const Value* Find(const QString& key) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].first != key) continue;
            // To the back: the most recent.
            std::pair<QString, Value> item = std::move(items[i]);
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            items.push_back(std::move(item));
            return &items.back().second;
        }
        return nullptr;
    }

    void Put(const QString& key, Value value) {
        if (key.isEmpty() || most == 0) return;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].first != key) continue;
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
        if (items.size() == most) items.erase(items.begin());
        items.emplace_back(key, std::move(value));
    }

    std::size_t Size() const { return items.size(); }

private:
    std::size_t most;
    std::vector<std::pair<QString, Value>> items;  // least recently used first
};

}  // namespace listview
