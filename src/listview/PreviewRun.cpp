#include "listview/PreviewRun.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "listview/ListMessages.h"

namespace preview {

namespace {

// Points a chunk holds: a cancel is seen between chunks, and a chunk's
// columns stay a few megabytes.
constexpr std::size_t kChunkPoints = 1 << 16;
// x, y, z, red, green, blue.
constexpr std::size_t kColourFields = 6;

// The fields a preview reads of records that have these: the scaled
// coordinates, and the colours where the records have them (a classic
// entry then decodes those streams alone). Empty for records without
// coordinates.
std::vector<std::string> PreviewFields(const std::vector<velmora::FieldInfo>& available) {
    auto has = [&available](const char* name) {
        return std::any_of(available.begin(), available.end(),
                           [name](const velmora::FieldInfo& f) { return f.name == name; });
    };
    if (!has("X") || !has("Y") || !has("Z")) return {};
    std::vector<std::string> fields{"x", "y", "z"};
    if (has("red") && has("green") && has("blue")) fields.insert(fields.end(), {"red", "green", "blue"});
    return fields;
}

template <class T>
T ValueAt(const velmora::Column& column, std::size_t i) {
    T v;
    std::memcpy(&v, column.data.data() + i * sizeof(T), sizeof(T));
    return v;
}

// The library's message names the file or entry first; the pane's title
// names it already.
std::string ReasonOf(const velmora::Error& e, const std::string& subject) {
    const std::string said = e.what();
    const std::string named = velmora::EscapeName(subject) + ": ";
    return said.compare(0, named.size(), named) == 0 ? said.substr(named.size()) : said;
}

}  // namespace

CPreviewRun::CPreviewRun(Target t, std::size_t most) : target(std::move(t)), maxSamples(std::max<std::size_t>(most, 1)) {}

void CPreviewRun::Run() {
    try {
        Work();
    } catch (const velmora::Error& e) {
        Fail(ReasonOf(e, target.IsEntry() ? target.entry : target.path), e.code() == velmora::ErrorCode::Damaged);
    } catch (const std::bad_alloc&) {
        Fail(listmsg::kPreviewMemory);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

// A reading stopped on request may still fail on its way out: the window
// stops the reading of an entry before deleting it, and a reading that was
// still opening the entry then finds it gone. It ended as it was asked to,
// and no failure is told for it.
void CPreviewRun::Fail(std::string why, bool damage) {
    if (cancelled) return End(State::Cancelled);
    End(State::Failed, std::move(why), damage);
}

void CPreviewRun::Work() {
    const velmora::Archive archive = velmora::Archive::At(target.path);
    const bool byPlace = target.IsEntry() && target.index >= 0;
    const auto place = static_cast<std::size_t>(std::max<int64_t>(target.index, 0));
    // A LAS file's reader that names no field reads nothing as it opens.
    auto available = [&] {
        if (!target.IsEntry()) return velmora::ReadLasPoints(target.path).Fields();
        return byPlace ? archive.FieldsAt(target.entry, place) : archive.Fields(target.entry);
    };
    auto open = [&](const std::vector<std::string>& fields) {
        if (!target.IsEntry()) return velmora::ReadLasPoints(target.path, fields, kChunkPoints);
        return byPlace ? archive.PointsAt(target.entry, place, fields, kChunkPoints)
                       : archive.Points(target.entry, fields, kChunkPoints);
    };
    const std::vector<velmora::FieldInfo> has = available();
    std::vector<std::string> fields = PreviewFields(has);
    const bool located = !fields.empty();
    // Records without coordinates (a format not known here) still have
    // their facts told, by a reader of a field they do have.
    if (!located) {
        if (has.empty()) return End(State::Failed, listmsg::kPreviewUnknownFormat);
        fields = {has.front().name};
    }
    // An entry's archive is locked while the reader lives: it goes when this
    // function returns, also when a cancel cuts the reading short.
    velmora::PointReader reader = open(fields);
    const velmora::HeaderFacts& facts = reader.Header();
    PublishFacts(facts, located && fields.size() == kColourFields);
    if (!located) return End(State::Failed, listmsg::kPreviewUnknownFormat);
    stride = SampleStride(facts.pointCount, maxSamples);
    if (cancelled) return End(State::Cancelled);
    velmora::PointChunk chunk;
    while (!cancelled && reader.Next(chunk)) {
        if (!TakeChunk(chunk)) break;
    }
    End(cancelled ? State::Cancelled : State::Done);
}

bool CPreviewRun::TakeChunk(const velmora::PointChunk& chunk) {
    const std::vector<velmora::Column>& c = chunk.columns;
    const bool colour = c.size() == kColourFields;
    std::vector<preview::Sample> slice;
    // Every stride-th record of the whole file, wherever the chunks begin.
    for (uint64_t i = nextTaken - seen; i < chunk.count && taken + slice.size() < maxSamples; i += stride) {
        const auto k = static_cast<std::size_t>(i);
        preview::Sample s;
        s.x = ValueAt<double>(c[0], k);
        s.y = ValueAt<double>(c[1], k);
        s.z = ValueAt<double>(c[2], k);
        if (colour) {
            s.red = ValueAt<uint16_t>(c[3], k);
            s.green = ValueAt<uint16_t>(c[4], k);
            s.blue = ValueAt<uint16_t>(c[5], k);
        }
        slice.push_back(s);
        nextTaken += stride;
    }
    seen += chunk.count;
    taken += slice.size();
    std::lock_guard<std::mutex> hold(lock);
    pending.insert(pending.end(), slice.begin(), slice.end());
    pointsRead = seen;
    return taken < maxSamples;
}

void CPreviewRun::PublishFacts(const velmora::HeaderFacts& facts, bool colour) {
    std::lock_guard<std::mutex> hold(lock);
    newFacts = facts;
    newColour = colour;
    pointsTotal = facts.pointCount;
}

void CPreviewRun::End(State how, std::string why, bool damage) {
    {
        std::lock_guard<std::mutex> hold(lock);
        state = how;
        error = std::move(why);
        damaged = damage;
    }
    ended.notify_all();
}

CPreviewRun::News CPreviewRun::Take() {
    News n;
    std::lock_guard<std::mutex> hold(lock);
    n.facts = std::move(newFacts);
    newFacts.reset();
    n.colour = newColour;
    n.samples.swap(pending);
    n.state = state;
    n.error = error;
    n.damaged = damaged;
    n.pointsRead = pointsRead;
    n.pointsTotal = pointsTotal;
    return n;
}

CPreviewRun::State CPreviewRun::CurrentState() const {
    std::lock_guard<std::mutex> hold(lock);
    return state;
}

bool CPreviewRun::WaitEnded(int ms) {
    std::unique_lock<std::mutex> hold(lock);
    return ended.wait_for(hold, std::chrono::milliseconds(ms), [this] { return state != State::Running; });
}

}  // namespace preview
