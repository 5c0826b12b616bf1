#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "engine/AttributeCodec.h"
#include "engine/ByteStreamCoder.h"
#include "engine/ChunkColumns.h"
#include "engine/ChunkPlan.h"
#include "engine/CoordinateCodec.h"
#include "engine/ProcessorCode.h"
#include "engine/ValueBlockCoder.h"

class InputWindow;

// The codec runs (rows) of one chunk, their order in the stream, and how
// they are grouped for work.
namespace chunkrows {

// The codec runs of one chunk, in stream order. The order matters: later
// rows' predictors read attributes restored by earlier ones (Z uses X and
// Y, intensity uses Z, GPS time the scan direction).
enum class Row {
    UserData, ScanDirection, ScanAngle, ReturnNumber, PointSource, NumberOfReturns, Edge,
    Classification, X, Y, Z, Intensity, GpsTime, Red, Green, Blue,
};
inline constexpr int kRowCount = 16;

struct RowInfo {
    Row row;
    uint32_t bitsPerPoint;
};

inline constexpr RowInfo kRows[] = {
    {Row::UserData, 8},  {Row::ScanDirection, 1},  {Row::ScanAngle, 8},   {Row::ReturnNumber, 3},
    {Row::PointSource, 16}, {Row::NumberOfReturns, 3}, {Row::Edge, 1},    {Row::Classification, 8},
    {Row::X, 32},        {Row::Y, 32},             {Row::Z, 32},          {Row::Intensity, 16},
    {Row::GpsTime, 64},  {Row::Red, 16},           {Row::Green, 16},      {Row::Blue, 16},
};

// kRows is indexed by Row.
constexpr bool RowsInEnumOrder() {
    for (int i = 0; i < static_cast<int>(std::size(kRows)); ++i) {
        if (static_cast<int>(kRows[i].row) != i) return false;
    }
    return true;
}
static_assert(RowsInEnumOrder());

inline int Index(Row r) { return static_cast<int>(r); }

bool RowApplies(Row row, int format);
bool IsByteRow(Row row);
attrs::ByteAttr ByteAttrOf(Row row);
// Value blocks of a row (two for GPS time); byte rows have none.
int BlocksOf(Row row);

// Rows coded and decoded together: their streams side by side (so one
// thread has independent work while each stream waits on its own steps),
// restored by one task. The four attributes of the return byte share that
// byte, so they are one group and have one writer; the other byte rows go
// with the point source, whose header stream is as long as theirs. A group
// has at most one value row. In the order of the work: a group waits (when
// decoding) only for one before it.
enum class Group { ReturnBits, Bytes, X, Y, Z, Intensity, GpsTime, Red, Green, Blue };
inline constexpr Group kGroups[] = {Group::ReturnBits, Group::Bytes, Group::X,       Group::Y,
                                    Group::Z,          Group::Intensity, Group::GpsTime, Group::Red,
                                    Group::Green,      Group::Blue};
inline constexpr int kGroupCount = static_cast<int>(std::size(kGroups));

// The group's rows, in stream order.
std::vector<Row> RowsOf(Group g);
bool GroupApplies(Group g, int format);
// The groups of `order` that the format has, in that order.
template <std::size_t N>
std::vector<Group> ApplicableGroups(const Group (&order)[N], int format) {
    std::vector<Group> groups;
    for (Group g : order) {
        if (GroupApplies(g, format)) groups.push_back(g);
    }
    return groups;
}
// The group whose restored attributes this one reads, if any.
constexpr bool DependsOn(Group g, Group& on) {
    switch (g) {
        case Group::Y: on = Group::X; return true;
        case Group::Z: on = Group::Y; return true;
        case Group::Intensity: on = Group::Z; return true;
        case Group::GpsTime: on = Group::ReturnBits; return true;
        default: return false;
    }
}

// Working memory of one thread, kept between chunks. The byte rows' arrays,
// the block writers and the decoded blocks all work in one set of buffers,
// so a thread holds the memory of its largest group, not of every kind. The
// byte rows' arrays are those of the second writer (coding) or the second
// decoded block (decoding), which only the GPS time, a group without byte
// rows, uses.
struct Scratch {
    static constexpr int kBuffers = 2 * valueblock::CBlockWriter::kBuffers;
    CByteBuffer pool[kBuffers];
    CByteBuffer* byteArrays = pool + valueblock::CBlockWriter::kBuffers;  // to code, one per byte row
    CByteBuffer* decodedBytes = pool + valueblock::CBlockBytes::kBuffers;  // decoded, one per byte row
    valueblock::CBlockWriter writers[2];
    valueblock::CBlockBytes blocks[2];
    coords::Windows windows;
    std::vector<bytestream::EncodeRequest> encodeRequests;
    std::vector<bytestream::DecodeRequest> decodeRequests;
    // The requests of several groups together (CodeGroups, DecodeGroups).
    std::vector<bytestream::EncodeRequest> groupsEncodeRequests;
    std::vector<bytestream::DecodeRequest> groupsDecodeRequests;

    Scratch() {
        writers[0].WorkIn(pool);
        writers[1].WorkIn(pool + valueblock::CBlockWriter::kBuffers);
        blocks[0].WorkIn(pool);
        blocks[1].WorkIn(pool + valueblock::CBlockBytes::kBuffers);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // Gives back the buffers' memory.
    void Release() {
        for (CByteBuffer& b : pool) b.Release();
    }
};

// How many groups a task codes or decodes, their streams side by side: the
// more streams at once, the faster the coders. The largest chunks (an
// entry's last may have up to twice the usual points) go one group a task,
// so the most memory a job takes does not grow by a second group's: up to
// one and a half chunks, a second group per thread costs less than the
// largest chunk's columns outweigh this one's.
inline constexpr std::size_t kMostGroupsPerTask = 2;
inline std::size_t GroupsPerTask(std::size_t points) {
    return points <= static_cast<std::size_t>(chunkplan::kChunk + chunkplan::kChunk / 2) ? kMostGroupsPerTask : 1;
}
// The threads' working memory, kMostGroupsPerTask slots each.
inline std::unique_ptr<Scratch[]> MakeSlots(int threads) {
    return std::make_unique<Scratch[]>(static_cast<std::size_t>(threads) * kMostGroupsPerTask);
}
inline Scratch* SlotsOf(Scratch* scratch, int worker) {
    return &scratch[static_cast<std::size_t>(worker) * kMostGroupsPerTask];
}
// Gives back what the slots a chunk of `points` leaves unused hold.
inline void ReleaseUnusedSlots(Scratch* scratch, int threads, std::size_t points) {
    for (std::size_t w = 0; w < static_cast<std::size_t>(threads); ++w) {
        for (std::size_t j = GroupsPerTask(points); j < kMostGroupsPerTask; ++j) {
            scratch[w * kMostGroupsPerTask + j].Release();
        }
    }
}
// Cuts `groups` into the tasks of a chunk of `points`, in order:
// task(first, n) for each run of n groups from groups[first].
template <class Task>
void ForEachGroupTask(const std::vector<Group>& groups, std::size_t points, Task task) {
    const std::size_t perTask = GroupsPerTask(points);
    for (std::size_t first = 0; first < groups.size(); first += perTask) {
        task(&groups[first], std::min(perTask, groups.size() - first));
    }
}

// Codes the group's rows into outs[Index(row)] (cleared first): the
// streams made from the columns, coded side by side, laid out.
void EncodeGroup(Group g, const ChunkColumns& c, const ProcessorCode& code, Scratch& s, CByteBuffer* outs);
// The three steps of EncodeGroup; only the first reads the columns.
void PrepareGroup(Group g, const ChunkColumns& c, const coords::Kernels& k, Scratch& s, CByteBuffer* outs);
void CodeGroup(Scratch& s, const bytestream::EncoderLoops& loops);
// CodeGroup for n groups prepared in s[0 .. n), their streams side by side.
void CodeGroups(Scratch* s, std::size_t n, const bytestream::EncoderLoops& loops);
// Decodes the streams that n groups request in s[j].decodeRequests (found in
// data[0 .. size)) side by side; each request gets its own result.
void DecodeGroups(const uint8_t* data, std::size_t size, Scratch* s, std::size_t n,
                  const bytestream::DecoderLoops& loops);
void LayOutGroup(Group g, Scratch& s, CByteBuffer* outs);

// The streams of one row from the window, stream after stream, into
// s.decodedBytes[0] or s.blocks.
void ReadRowStreams(Row row, InputWindow& in, std::size_t count, Scratch& s, const bytestream::DecoderLoops& loops);

// Decodes one row from the window, stream after stream, and restores it.
void DecodeRow(Row row, InputWindow& in, const ProcessorCode& code, Scratch& s, ChunkColumns& c);
// Restores a row from its decoded streams: a byte row from s.decodedBytes[slot],
// a value row from s.blocks. X, Y, Z and intensity keep the pace given.
void RestoreRow(Row row, const coords::Kernels& k, Scratch& s, int slot, ChunkColumns& c,
                const RestorePacing& pace = {});

}  // namespace chunkrows
