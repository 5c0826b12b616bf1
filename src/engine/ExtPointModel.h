#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/LargePages.h"
#include "engine/Reciprocal.h"
#include "las/PointFormat.h"

// floor(n / d) for any n below 2^32 and any d >= 1: a chunk's grid cells,
// four times a point, without a division.
class CCellDivider {
public:
    explicit CCellDivider(uint64_t d) : r(reciprocal::Of(d)) {}
    [[gnu::always_inline]] uint64_t operator()(uint64_t n) const { return reciprocal::Divide(n, r); }

private:
    uint64_t r;
};

// The grid of earlier points that an extended entry's point model searches.
namespace extgrid {

// One cell's latest point of each return class. The points' X and Y are
// kept beside them: a search looks at up to 36 points, and reading them from
// the records would scatter over the whole chunk. A slot fills one cache
// line.
struct alignas(64) Slot {
    uint64_t key = 0;
    std::array<uint32_t, 4> point{};  // index + 1; 0 for none
    std::array<int32_t, 4> x{}, y{};
};

// Over nine cells (null for a cell that holds no point), the nearest point
// to (x, y) of class tag and the nearest of any class, as index + 1 (0 for
// none): squared distances, unsigned and wrapping, ties to the first found
// with cells in the order given and classes 0 to 3 within a cell.
using Search = void (*)(const Slot* const* cells, int32_t x, int32_t y, std::size_t tag, uint32_t& same,
                        uint32_t& any);

// The versions this processor runs, the plain one first and the fastest
// last; all give the same answers.
const std::vector<Search>& Available();

}  // namespace extgrid

// How the points of an extended entry's chunk become symbols and back: each
// field is predicted from the points before it (the previous point of the
// same scanner channel, the last point of the same return, the nearest
// earlier point in the same cell of a grid over X and Y) and the difference
// is put as symbols in a context chosen from what the decoder already knows.
// Encoder and decoder run the same code (Code, with a sink or a source), so
// they cannot drift apart.
class CExtPointModel {
public:
    // cellSize: the grid's cell edge in the records' X and Y units. rich:
    // contexts split finely, for chunks with enough points to fill them.
    // The layout's fields must tile its records exactly.
    CExtPointModel(PointLayout layout, int64_t cellSize, bool rich);

    // Whether a loop was compiled for the layout's set of fields (see
    // Fields below); otherwise it is coded, to the same bytes, by the loop
    // that asks for each field.
    bool Specialized() const { return loop != kLoops; }

    // Tables the model may name; the sink and the source need the number.
    uint32_t TableCount() const { return tables; }

    // The most symbols a record of the layout is put as, for the records'
    // standard fields and for their extra fields: what a chunk's symbols
    // can take, whatever the data.
    struct SymbolCount {
        std::size_t standard = 0, extra = 0;
        std::size_t Total() const { return standard + extra; }
    };
    static SymbolCount SymbolsAtMost(const PointLayout& layout);

    // Codes count records (recordLength bytes each) with the sink, or fills
    // them from the source. Encoding reads records; decoding writes them in
    // order, so every field a prediction looks at is already there.
    template <class Io>
    void Code(Io& io, uint8_t* records, std::size_t count);

private:
    // The standard fields a layout has, as Code asks about them.
    struct Fields {
        bool xy = false, z = false, intensity = false, source = false, rank = false, angle = false, rgb = false,
             flags = false, ret = false, oldReturn = false, classification = false, user = false, time = false,
             extra = false;
        bool operator==(const Fields&) const = default;
    };
    // The sets of fields the point formats have, with extra fields and
    // without, named by four bits: the newer return and flag bytes, GPS
    // time, colour, extra fields. Each set has a loop compiled for it, in
    // which a field it lacks costs nothing a point: a test a field, and the
    // registers the tests took, cost a survey up to a tenth of the time. A
    // layout of any other set (no format's, or a damaged field list) takes
    // the loop that asks.
    static constexpr unsigned kShapes = 16, kAnyShape = kShapes;
    static constexpr Fields FieldsOf(unsigned shape) {
        const bool newer = (shape & 1) != 0;
        Fields f;
        f.xy = f.z = f.intensity = f.source = f.ret = f.classification = f.user = true;
        f.rank = f.oldReturn = !newer;
        f.angle = f.flags = newer;
        f.time = (shape & 2) != 0;
        f.rgb = (shape & 4) != 0;
        f.extra = (shape & 8) != 0;
        return f;
    }
    // The sets a loop is compiled for, those the formats have (the newer
    // bytes come with GPS time in all of them), then the loop that asks.
    static constexpr std::size_t kLoops = 12;
    static constexpr std::array<unsigned, kLoops + 1> kLoopShapes = [] {
        std::array<unsigned, kLoops + 1> shapes{};
        std::size_t n = 0;
        for (unsigned shape = 0; shape < kShapes; ++shape) {
            if ((shape & 1) == 0 || (shape & 2) != 0) shapes[n++] = shape;
        }
        shapes[n] = kAnyShape;
        return shapes;
    }();
    template <class Io, unsigned kShape>
    void CodeShaped(Io& io, uint8_t* records, std::size_t count);

    // Integer differences: the bit length of the magnitude in a context,
    // then sign and top bits, the next byte, and the rest as raw bits.
    struct IntModel {
        uint32_t kTables = 0, topTables = 0, midTables = 0, contexts = 0;
        bool topPerContext = false;
    };
    // perContextTop: the top bits too get a table per context, where the
    // context says much about them.
    IntModel NewInt(uint32_t contexts, bool perContextTop = false);
    // A byte in a context: one table of 256 symbols per context.
    uint32_t NewBytes(uint32_t contexts);
    template <class Io>
    [[gnu::always_inline]] static inline int CodeInt(Io& io, const IntModel& m, uint32_t context, int64_t& value);

    struct Channel {
        bool seen = false;
        std::size_t last = 0;  // index of the channel's latest point
        std::array<std::array<int32_t, 5>, 16> dx{}, dy{};
        std::array<uint8_t, 16> dxAt{}, dyAt{}, lastKx{};
        std::array<int32_t, 8> zOfLevel{};
        std::array<uint16_t, 16> intensityOfM{};
        uint64_t time = 0;
        int64_t timeStep = 0;
        // Per extra field: the value it had before its latest change, and
        // how the latest value came (same, the one before, new).
        std::vector<uint64_t> extraBefore;
        std::vector<uint8_t> extraHow;
    };
    // Where earlier points lie: for each cell of a coarse grid over X and Y,
    // the latest point of each return class. A fixed number of slots, so a
    // chunk of any size takes the same memory; an older cell that shares a
    // slot is forgotten, which both sides do alike.
    struct Grid {
        static constexpr unsigned kSlotBits = 16;
        using Slot = extgrid::Slot;
        static constexpr std::size_t kSlots = std::size_t(1) << kSlotBits;
        // In large pages where the system grants them: slots are looked up
        // all over the grid, and in small pages most lookups would also
        // miss the processor's cache of pages.
        std::unique_ptr<void, largepages::Giver> block;
        Slot* slots = nullptr;
        Grid();
        extgrid::Search nearest = extgrid::Available().back();
        void Reset();
        // Inline: a point looks up nineteen cells.
        [[gnu::always_inline]] static uint64_t Key(int64_t cx, int64_t cy) {
            // Never 0, the key of an empty slot.
            return ((static_cast<uint64_t>(cx) & 0xFFFFFFFFu) << 32 | (static_cast<uint64_t>(cy) & 0xFFFFFFFFu)) + 1;
        }
        [[gnu::always_inline]] static std::size_t SlotOf(uint64_t key) {
            const uint64_t h = key * 0x9E3779B97F4A7C15ull;
            return static_cast<std::size_t>(h >> (64 - kSlotBits));
        }
    };

    PointLayout layout;
    CCellDivider byCell;
    bool rich;
    uint32_t tables = 0;
    // Fields by role (null when the format has none).
    const PointField *x, *y, *z, *intensity, *returnByte, *returnsByte, *flagsByte, *classification,
        *scanAngleRank, *scanAngle, *userData, *pointSource, *gpsTime, *red, *green, *blue, *nir;
    std::vector<const PointField*> wave, extra;
    Fields fields;
    std::size_t loop = kLoops;  // into kLoopShapes

    IntModel xInt, yInt, zInt, intensityInt, angleInt, sourceInt, timeInt, colourInt, nirInt, waveInt;
    uint32_t returnBytes = 0, flagBytes = 0, classBytes = 0, userBytes = 0, sameTables = 0;
    std::vector<IntModel> extraInts;
    std::vector<uint32_t> extraBytes, extraHowTables;
    std::vector<bool> extraFine;  // bytes of the field in 256 contexts each
    static constexpr std::size_t kRichExtraBytes = 256;
    Grid grid;
};
