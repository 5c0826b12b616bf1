#include "listview/PreviewRun.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "archive/ArchivePoints.h"
#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"
#include "listview/ListMessages.h"

namespace preview {

namespace {

// Records read from a LAS file at a time: as many as an entry's reader
// hands out, so a cancel is seen as soon in either.
constexpr std::size_t kSliceRecords = 1 << 16;

constexpr FieldRole kColourRoles[] = {FieldRole::Red, FieldRole::Green, FieldRole::Blue};

bool HasColour(const PointLayout& layout) {
    return std::all_of(std::begin(kColourRoles), std::end(kColourRoles),
                       [&layout](FieldRole r) { return layout.Find(r) != nullptr; });
}

}  // namespace

std::vector<FieldRole> PreviewRoles(const PointLayout& layout) {
    std::vector<FieldRole> roles{FieldRole::X, FieldRole::Y, FieldRole::Z};
    if (HasColour(layout)) roles.insert(roles.end(), std::begin(kColourRoles), std::end(kColourRoles));
    return roles;
}

CPreviewRun::CPreviewRun(Target t, std::size_t most) : target(std::move(t)), maxSamples(std::max<std::size_t>(most, 1)) {}

void CPreviewRun::Run() {
    try {
        Work();
    } catch (const CDamagedEntry& e) {
        End(State::Failed, DescribeFailure(e), true);
    } catch (const CLasException& e) {
        End(State::Failed, DescribeFailure(e));
    } catch (const std::bad_alloc&) {
        End(State::Failed, lasmsg::kReadPointsMemory.text);
    } catch (const std::exception& e) {
        End(State::Failed, e.what());
    }
}

void CPreviewRun::Work() {
    LasFacts facts;
    if (target.IsEntry()) {
        // A reader of its own: one that gave the facts reads no points.
        CArchivePoints head(target.path, target.entry, {FieldRole::X}, 1, target.index);
        facts = head.Facts();
    } else {
        facts = ReadLasFileFacts(target.path);
    }
    const PointLayout layout = DescribePoints(facts.layout.PointFormat(), facts.layout.recordLength);
    PublishFacts(facts, HasColour(layout));
    for (int a = 0; a < 3; ++a) {
        scale[a] = facts.scale[a];
        offset[a] = facts.offset[a];
    }
    stride = SampleStride(facts.layout.pointCount, maxSamples);
    if (cancelled) return End(State::Cancelled);
    if (target.IsEntry())
        ReadEntry(PreviewRoles(layout));
    else
        ReadLasFile(facts, layout);
    End(cancelled ? State::Cancelled : State::Done);
}

void CPreviewRun::Locate(const PointLayout& layout) {
    const PointField* xyz[3] = {layout.Find(FieldRole::X), layout.Find(FieldRole::Y), layout.Find(FieldRole::Z)};
    if (!xyz[0] || !xyz[1] || !xyz[2]) throw CLasException(listmsg::kPreviewUnknownFormat);
    const bool colour = HasColour(layout);
    for (int a = 0; a < 3; ++a) {
        xyzAt[a] = xyz[a]->offset;
        rgbAt[a].reset();
        if (colour) rgbAt[a] = layout.Find(kColourRoles[a])->offset;
    }
    recordLength = layout.recordLength;
}

void CPreviewRun::ReadEntry(const std::vector<FieldRole>& roles) {
    // The archive is locked while the reader lives: it goes at the end of
    // this function, also when a cancel cuts the reading short.
    CArchivePoints points(target.path, target.entry, roles, 0, target.index);
    // The records are read by the layout they come in.
    Locate(DescribePoints(points.Layout().PointFormat(), points.Layout().recordLength));
    std::vector<uint8_t> records;
    std::size_t count = 0;
    while (!cancelled && points.Next(records, count)) {
        if (!TakeSlice(records.data(), count)) break;
    }
}

void CPreviewRun::ReadLasFile(const LasFacts& facts, const PointLayout& layout) {
    Locate(layout);
    CFile file;
    if (!file.Open(target.path, "rb")) throw CLasException(lasmsg::kReadOpen, true, file.LastError());
    if (!file.Seek(facts.layout.offsetToPoints)) throw CLasException(lasmsg::kReadPoints, true, file.LastError());
    std::vector<uint8_t> records;
    uint64_t left = facts.layout.pointCount;
    while (!cancelled && left > 0) {
        const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(left, kSliceRecords));
        records.resize(count * recordLength);
        // The layout was read from the same file: it holds these records,
        // unless it was cut since.
        if (!file.ReadExact(records.data(), records.size()))
            throw CLasException(lasmsg::kReadPoints, true, file.LastError());
        left -= count;
        if (!TakeSlice(records.data(), count)) break;
    }
}

bool CPreviewRun::TakeSlice(const uint8_t* records, std::size_t count) {
    std::vector<preview::Sample> slice;
    // Every stride-th record of the whole file, wherever the slices begin.
    for (uint64_t i = nextTaken - seen; i < count && taken + slice.size() < maxSamples; i += stride) {
        const uint8_t* rec = records + static_cast<std::size_t>(i) * recordLength;
        preview::Sample s;
        s.x = le::LoadI32(rec + xyzAt[0]) * scale[0] + offset[0];
        s.y = le::LoadI32(rec + xyzAt[1]) * scale[1] + offset[1];
        s.z = le::LoadI32(rec + xyzAt[2]) * scale[2] + offset[2];
        if (rgbAt[0]) {
            s.red = le::LoadU16(rec + *rgbAt[0]);
            s.green = le::LoadU16(rec + *rgbAt[1]);
            s.blue = le::LoadU16(rec + *rgbAt[2]);
        }
        slice.push_back(s);
        nextTaken += stride;
    }
    seen += count;
    taken += slice.size();
    std::lock_guard<std::mutex> hold(lock);
    pending.insert(pending.end(), slice.begin(), slice.end());
    pointsRead = seen;
    return taken < maxSamples;
}

void CPreviewRun::PublishFacts(const LasFacts& facts, bool colour) {
    std::lock_guard<std::mutex> hold(lock);
    newFacts = facts;
    newColour = colour;
    pointsTotal = facts.layout.pointCount;
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
