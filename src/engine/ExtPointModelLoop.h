#pragma once

// The point model's loops over a chunk's records (CExtPointModel::Code) and
// what they use, for the two files that compile them: compression's loops in
// ExtPointModel.cpp and decompression's in ExtPointModelDecode.cpp, side by
// side, as the loops of every set of fields take long to compile. Included
// by those two files only: its helpers are each file's own.

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "engine/ExtPointModel.h"
#include "engine/ExtSymbols.h"
#include "las/Invariant.h"

namespace {

// Table alphabets: the bit length of a 64-bit magnitude (0 to 64), sign and
// three top bits, a byte.
constexpr uint32_t kLengthSymbols = 65;
constexpr unsigned kTopBits = 3;
constexpr unsigned kMidBits = 8;
// Points ahead whose grid cells coding fetches.
constexpr std::size_t kFetchAhead = 4;

// Here and below, tests whose outcome follows the data are computed, not
// branched on: no predictor guesses them, and the compiler makes branches
// of many a choice written as one.
[[gnu::always_inline]] inline unsigned BitLength(uint64_t v) {
    return static_cast<unsigned>(63 ^ __builtin_clzll(v | 1)) + (v != 0);
}

// Both 32-bit values ordered, by the sign of their 64-bit difference, which
// cannot overflow.
[[gnu::always_inline]] inline void Order(int32_t& lo, int32_t& hi) {
    const int64_t d = int64_t(hi) - lo;
    const int64_t swap = d & (d >> 63);  // d when hi < lo, else 0
    lo = static_cast<int32_t>(lo + swap);
    hi = static_cast<int32_t>(hi - swap);
}

// The median of five without sorting a copy: a fixed network of exchanges.
[[gnu::always_inline]] inline int32_t Median5(const std::array<int32_t, 5>& m) {
    int32_t a = m[0], b = m[1], c = m[2], d = m[3], e = m[4];
    Order(a, b);
    Order(d, e);
    Order(a, d);  // a is now the least of a, b, d, e: not the median
    Order(b, e);  // e the greatest of them
    Order(c, b);
    Order(c, d);
    Order(b, d);
    Order(c, b);  // b = max(c, b)
    Order(b, d);  // b = min(max(c, b), d)
    return b;
}

// Little-endian field access by the field's own width, sign-extended for
// signed types and as bit patterns for floating-point ones. The usual widths
// take one load (the byte order of the machine is checked at build time).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "fields are read in the machine's byte order");
[[gnu::always_inline]] inline uint64_t LoadBits(const uint8_t* p, std::size_t size) {
    switch (size) {
        case 1:
            return p[0];
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 4: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        case 8: {
            uint64_t v;
            std::memcpy(&v, p, 8);
            return v;
        }
        default: {
            uint64_t v = 0;
            for (std::size_t i = 0; i < size; ++i) v |= uint64_t(p[i]) << (8 * i);
            return v;
        }
    }
}
[[gnu::always_inline]] inline void StoreBits(uint8_t* p, std::size_t size, uint64_t v) {
    switch (size) {
        case 1:
            p[0] = static_cast<uint8_t>(v);
            return;
        case 2: {
            const auto w = static_cast<uint16_t>(v);
            std::memcpy(p, &w, 2);
            return;
        }
        case 4: {
            const auto w = static_cast<uint32_t>(v);
            std::memcpy(p, &w, 4);
            return;
        }
        case 8:
            std::memcpy(p, &v, 8);
            return;
        default:
            for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
bool IsSigned(FieldType t) { return t == FieldType::I8 || t == FieldType::I16 || t == FieldType::I32 || t == FieldType::I64; }
[[gnu::always_inline]] inline int64_t Load(const uint8_t* record, const PointField& f) {
    const uint64_t bits = LoadBits(record + f.offset, f.size);
    if (!IsSigned(f.type) || f.size == 8) return static_cast<int64_t>(bits);
    const unsigned shift = static_cast<unsigned>(64 - 8 * f.size);
    return static_cast<int64_t>(bits << shift) >> shift;
}
[[gnu::always_inline]] inline void Store(uint8_t* record, const PointField& f, int64_t v) { StoreBits(record + f.offset, f.size, static_cast<uint64_t>(v)); }

// A standard field, whose role fixes its type: one load or store, where a
// field of any type goes through the switches above. Held by the caller
// (see Keep), not read from the layout at each access.
template <class T>
struct FieldAt {
    std::size_t at = 0;
    [[gnu::always_inline]] int64_t operator()(const uint8_t* record) const {
        T v;
        std::memcpy(&v, record + at, sizeof v);
        return v;
    }
    [[gnu::always_inline]] void Set(uint8_t* record, int64_t v) const {
        const auto w = static_cast<T>(v);
        std::memcpy(record + at, &w, sizeof w);
    }
};
template <class T>
FieldAt<T> At(const PointField* f) {
    return FieldAt<T>{f ? f->offset : 0};
}

// Decoding writes each value into its record. Encoding leaves the records
// as they are, every value coded being the one read, and stores nothing: a
// store of record bytes may alias anything the model keeps in memory (an
// offset, a table number) and would have it loaded again.
template <class Io, class Field>
[[gnu::always_inline]] inline void Keep(const Field& field, uint8_t* record, int64_t v) {
    if constexpr (!Io::kEncoding) field.Set(record, v);
}
template <class Io>
[[gnu::always_inline]] inline void KeepByte(uint8_t* at, uint8_t v) {
    if constexpr (!Io::kEncoding) *at = v;
}

// v, or -v where mask is all ones (mask is 0 or all ones).
[[gnu::always_inline]] inline uint64_t NegatedWhere(uint64_t v, uint64_t mask) { return (v ^ mask) - mask; }

// Wrapping sum and difference: predictions of hostile data may lie anywhere.
int64_t Add(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
int64_t Sub(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }

// Puts a byte (or gets it) in one table.
template <class Io>
[[gnu::always_inline]] inline uint8_t CodeByte(Io& io, uint32_t table, uint8_t value) {
    uint32_t s = value;
    io.Sym(table, s);
    return static_cast<uint8_t>(s);
}

}  // namespace

template <class Io>
int CExtPointModel::CodeInt(Io& io, const IntModel& m, uint32_t context, int64_t& value) {
    const uint64_t u = static_cast<uint64_t>(value);
    const uint64_t sign = 0 - (u >> 63);  // all ones for a negative value
    const uint64_t magnitude = NegatedWhere(u, sign);
    uint32_t length = BitLength(magnitude);
    io.Sym(m.kTables + context, length);
    if (length == 0 || length > 64) {
        value = 0;
        return 0;
    }
    const unsigned below = length - 1;
    const uint64_t rest = magnitude - (uint64_t(1) << below);
    const unsigned top = below < kTopBits ? below : kTopBits;
    uint32_t head = (static_cast<uint32_t>(sign) & (1u << kTopBits)) | static_cast<uint32_t>(rest >> (below - top));
    io.Sym(m.topTables + (m.topPerContext ? context * kLengthSymbols : 0) + length, head);
    const unsigned after = below - top;
    const unsigned mid = after < kMidBits ? after : kMidBits;
    uint32_t middle = static_cast<uint32_t>((rest >> (after - mid)) & ((1u << mid) - 1));
    if (mid > 0) io.Sym(m.midTables + length, middle);
    const unsigned raw = after - mid;
    uint64_t low = raw > 0 ? rest & ((uint64_t(1) << raw) - 1) : 0;
    if (raw > 0) io.Bits(low, raw);
    if constexpr (!Io::kEncoding) {
        const uint64_t topPart = uint64_t(head & ((1u << kTopBits) - 1)) & ((uint64_t(1) << top) - 1);
        const uint64_t r = (topPart << after) | (uint64_t(middle & ((1u << mid) - 1)) << raw) | low;
        const uint64_t mag = (uint64_t(1) << below) + r;
        value = static_cast<int64_t>(NegatedWhere(mag, 0 - uint64_t((head >> kTopBits) & 1)));
    }
    return static_cast<int>(length);
}

template <class Io>
void CExtPointModel::Code(Io& io, uint8_t* records, std::size_t count) {
    using Coder = void (CExtPointModel::*)(Io&, uint8_t*, std::size_t);
    static constexpr auto coders = []<std::size_t... k>(std::index_sequence<k...>) {
        return std::array<Coder, sizeof...(k)>{&CExtPointModel::CodeShaped<Io, kLoopShapes[k]>...};
    }(std::make_index_sequence<kLoops + 1>{});
    (this->*coders[loop])(io, records, count);
}

template <class Io, unsigned kShape>
void CExtPointModel::CodeShaped(Io& symbols, uint8_t* records, std::size_t count) {
    typename Io::Local io(symbols);
    const Fields present = kShape == kAnyShape ? fields : FieldsOf(kShape);
    const std::size_t rl = layout.recordLength;
    const std::vector<uint8_t> zero(rl, 0);
    std::array<Channel, 4> channels{};
    grid.Reset();
    int previousChannel = 0;
    int64_t lastX = 0, lastY = 0;
    const FieldAt<int32_t> X = At<int32_t>(x), Y = At<int32_t>(y), Z = At<int32_t>(z);
    const FieldAt<uint16_t> I = At<uint16_t>(intensity), source = At<uint16_t>(pointSource);
    const FieldAt<uint16_t> R = At<uint16_t>(red), G = At<uint16_t>(green), B = At<uint16_t>(blue);
    const FieldAt<uint16_t> N = At<uint16_t>(nir);
    const FieldAt<int8_t> rank = At<int8_t>(scanAngleRank);
    const FieldAt<int16_t> angle = At<int16_t>(scanAngle);
    const bool hasXY = present.xy, hasZ = present.z, hasI = present.intensity, hasSource = present.source,
               hasRank = present.rank, hasAngle = present.angle, hasRgb = present.rgb, hasNir = nir;
    const bool hasFlags = present.flags, hasReturn = present.ret, oldReturn = present.oldReturn;
    const bool hasClass = present.classification, hasUser = present.user, hasTime = present.time,
               hasExtra = present.extra;
    const std::size_t flagsAt = hasFlags ? flagsByte->offset : 0;
    const std::size_t returnAt = hasReturn ? (returnByte ? returnByte : returnsByte)->offset : 0;
    const std::size_t classAt = hasClass ? classification->offset : 0, userAt = hasUser ? userData->offset : 0;
    const std::size_t timeAt = hasTime ? gpsTime->offset : 0;
    // In locals: decoding stores record bytes, which could be any member's.
    const std::size_t waves = wave.size();
    const PointField* const packetSize = layout.Find(FieldRole::WavePacketSize);
    auto recordOf = [&](std::size_t i) { return records + i * rl; };
    for (std::size_t i = 0; i < count; ++i) {
        uint8_t* r = recordOf(i);
        if constexpr (!Io::kEncoding) std::memset(r, 0, rl);
        const Channel& before = channels[static_cast<std::size_t>(previousChannel)];
        const uint8_t* previous = before.seen ? recordOf(before.last) : zero.data();
        int channel = 0;
        if (hasFlags) {
            const uint8_t ctx = rich ? previous[flagsAt] : 0;
            const uint8_t flags = CodeByte(io, flagBytes + ctx, r[flagsAt]);
            KeepByte<Io>(r + flagsAt, flags);
            channel = (flags >> 4) & 3;
        }
        Channel& c = channels[static_cast<std::size_t>(channel)];
        const uint8_t* L = c.seen ? recordOf(c.last) : zero.data();
        int ret = 1, returnCount = 1;
        if (hasReturn) {
            const uint8_t returns = CodeByte(io, returnBytes + L[returnAt], r[returnAt]);
            KeepByte<Io>(r + returnAt, returns);
            ret = oldReturn ? (returns & 7) : (returns & 15);
            returnCount = oldReturn ? ((returns >> 3) & 7) : (returns >> 4);
        }
        const bool last = ret >= returnCount;
        const std::size_t m = static_cast<std::size_t>(std::min(ret, 7) * 2 + (last ? 1 : 0));
        const std::size_t level = static_cast<std::size_t>(std::min(ret, 3) * 2 + (last ? 1 : 0));
        const std::size_t tag = static_cast<std::size_t>((ret == 1 ? 1 : 0) + (last ? 2 : 0));
        if (hasClass) {
            const uint32_t ctx = rich ? L[classAt] + (ret == 1 ? 256u : 0u) : (ret == 1 ? 1u : 0u);
            KeepByte<Io>(r + classAt, CodeByte(io, classBytes + ctx, r[classAt]));
        }
        // Fields that mostly stay as they were: whether it changed, then by
        // how much.
        auto codeChange = [&](const auto& field, uint32_t sameTable, const IntModel& model) __attribute__((always_inline)) {
            const int64_t before = field(L);
            int64_t delta = Sub(field(r), before);
            uint32_t changed = delta != 0;
            io.Sym(sameTable, changed);
            if (changed) CodeInt(io, model, 0, delta);
            if (!changed) delta = 0;
            Keep<Io>(field, r, Add(before, delta));
        };
        if (hasRank) codeChange(rank, sameTables + 0, angleInt);
        if (hasAngle) codeChange(angle, sameTables + 0, angleInt);
        if (hasUser) {
            const uint8_t ctx = rich ? L[userAt] : 0;
            KeepByte<Io>(r + userAt, CodeByte(io, userBytes + ctx, r[userAt]));
        }
        if (hasSource) codeChange(source, sameTables + 1, sourceInt);
        if (hasTime) {
            // The returns of one pulse share its time; pulses follow one
            // another at a steady rate.
            const uint64_t t = LoadBits(r + timeAt, 8);
            uint32_t changed = t != c.time;
            io.Sym(sameTables + 2 + static_cast<uint32_t>(std::min(ret, 3) * 2 + (ret > 1 ? 1 : 0)), changed);
            if (changed) {
                int64_t residual = Sub(static_cast<int64_t>(t - c.time), c.timeStep);
                CodeInt(io, timeInt, 0, residual);
                c.timeStep = Add(c.timeStep, residual);
                c.time += static_cast<uint64_t>(c.timeStep);
            }
            if constexpr (!Io::kEncoding) StoreBits(r + timeAt, 8, c.time);
        }
        int kx = 0, ky = 0;
        int64_t px = 0, py = 0, vx = 0, vy = 0;
        if (hasXY) {
            px = X(L);
            py = Y(L);
            const int64_t predictedX = Add(px, Median5(c.dx[m]));
            int64_t dx = Sub(X(r), predictedX);
            const uint32_t xctx = static_cast<uint32_t>(std::min(ret, 3) * 16 + std::min<int>(c.lastKx[m], 15));
            kx = CodeInt(io, xInt, xctx, dx);
            vx = static_cast<int32_t>(Add(predictedX, dx));
            Keep<Io>(X, r, vx);
            c.lastKx[m] = static_cast<uint8_t>(kx);
            // The scan line's direction ties a step in Y to the step in X:
            // the latest earlier step of about this X step tells the Y step.
            const int64_t stepX = Sub(vx, px);
            // Walked from the oldest, each match taking the place of the
            // one before it, so the latest wins, as with a search from it
            // that stops at the first: without a branch on each.
            int64_t stepY = Median5(c.dy[m]);
#pragma GCC unroll 5
            for (int k = 4; k >= 0; --k) {
                const std::size_t at = (c.dxAt[m] + 4 - static_cast<std::size_t>(k)) % 5;
                const int64_t diff = stepX - c.dx[m][at];
                const int64_t match = 0 - int64_t((diff > -4) & (diff < 4));
                stepY ^= (stepY ^ int64_t(c.dy[m][at])) & match;
            }
            int64_t dy = Sub(Y(r), Add(py, stepY));
            ky = CodeInt(io, yInt, static_cast<uint32_t>(std::min(kx, 20)), dy);
            vy = static_cast<int32_t>(Add(Add(py, stepY), dy));
            Keep<Io>(Y, r, vy);
            c.dx[m][c.dxAt[m]++ % 5] = static_cast<int32_t>(Sub(vx, px));
            c.dy[m][c.dyAt[m]++ % 5] = static_cast<int32_t>(Sub(vy, py));
            c.dxAt[m] %= 5;
            c.dyAt[m] %= 5;
        }
        // The nearest earlier point of the same return class in this and
        // the eight cells around, and the nearest of any class.
        // vx and vy are 32-bit values: the numerators lie in [0, 2^32).
        const int64_t cx = static_cast<int64_t>(byCell(static_cast<uint64_t>(vx - int64_t(INT32_MIN))));
        const int64_t cy = static_cast<int64_t>(byCell(static_cast<uint64_t>(vy - int64_t(INT32_MIN))));
        uint32_t same = 0, any = 0;
        if (hasXY) {
            std::array<const Grid::Slot*, 9> cells;
            for (std::size_t o = 0; o < 9; ++o) {
                const uint64_t key = Grid::Key(cx + int64_t(o / 3) - 1, cy + int64_t(o % 3) - 1);
                const Grid::Slot* slot = &grid.slots[grid.SlotOf(key)];
                cells[o] = slot->key == key ? slot : nullptr;
            }
            grid.nearest(cells.data(), static_cast<int32_t>(vx), static_cast<int32_t>(vy), tag, same, any);
        }
        const uint8_t* near = same ? recordOf(same - 1) : nullptr;
        if (hasZ) {
            const int64_t byLevel = c.zOfLevel[level];
            const int64_t byNeighbour = near ? Z(near) : byLevel;
            const uint64_t disagree = static_cast<uint64_t>(std::abs(Sub(byLevel, byNeighbour)));
            const uint32_t kd = std::min<uint32_t>(BitLength(disagree), 15);
            const uint32_t ctx = (kd * 2 + (near ? 1 : 0)) * 10 + static_cast<uint32_t>(std::min((kx + ky) / 2, 18) / 2);
            int64_t dz = Sub(Z(r), byNeighbour);
            CodeInt(io, zInt, ctx, dz);
            const int64_t vz = static_cast<int32_t>(Add(byNeighbour, dz));
            Keep<Io>(Z, r, vz);
            c.zOfLevel[level] = static_cast<int32_t>(vz);
        }
        if (hasI) {
            const int64_t byM = c.intensityOfM[m];
            const int64_t byNeighbour = near ? I(near) : byM;
            const uint32_t kd = std::min<uint32_t>(BitLength(static_cast<uint64_t>(std::abs(byM - byNeighbour))), 12);
            const int64_t prediction = (byM + byNeighbour) / 2;
            int64_t di = Sub(I(r), prediction);
            CodeInt(io, intensityInt, kd * 2 + (ret > 1 ? 1 : 0), di);
            const int64_t vi = Add(prediction, di);
            Keep<Io>(I, r, vi);
            c.intensityOfM[m] = static_cast<uint16_t>(vi);
        }
        // Colour comes from the surface: the nearest point of any return
        // class tells it best, and the channels move together.
        const uint8_t* ref = any ? recordOf(any - 1) : L;
        if (hasRgb) {
            const int64_t rr = R(ref), rg = G(ref), rb = B(ref);
            int64_t dR = Sub(R(r), rr);
            const int kR = CodeInt(io, colourInt, 0, dR);
            const uint32_t ctx = static_cast<uint32_t>(std::min(kR, 15));
            int64_t dG = Sub(Sub(G(r), rg), dR);
            CodeInt(io, colourInt, 1 + ctx, dG);
            dG = Add(dG, dR);
            int64_t dB = Sub(Sub(B(r), rb), Add(dR, dG) / 2);
            CodeInt(io, colourInt, 17 + ctx, dB);
            dB = Add(dB, Add(dR, dG) / 2);
            Keep<Io>(R, r, Add(rr, dR));
            Keep<Io>(G, r, Add(rg, dG));
            Keep<Io>(B, r, Add(rb, dB));
        }
        if (hasNir) {
            const int64_t before = N(ref);
            int64_t d = Sub(N(r), before);
            CodeInt(io, nirInt, 0, d);
            Keep<Io>(N, r, Add(before, d));
        }
        // Wave packets: data offsets advance by the previous packet's size.
        for (std::size_t w = 0; w < waves; ++w) {
            const PointField& f = *wave[w];
            int64_t prediction = Load(L, f);
            if (f.role == FieldRole::WaveDataOffset && packetSize) prediction = Add(prediction, Load(L, *packetSize));
            int64_t d = Sub(Load(r, f), prediction);
            CodeInt(io, waveInt, static_cast<uint32_t>(w), d);
            if constexpr (!Io::kEncoding) Store(r, f, Add(prediction, d));
        }
        if (hasExtra && c.extraBefore.size() != extra.size()) {
            c.extraBefore.assign(extra.size(), 0);
            c.extraHow.assign(extra.size(), 0);
        }
        for (std::size_t e = 0; hasExtra && e < extra.size(); ++e) {
            const PointField& f = *extra[e];
            // Extra fields often hold labels (a tree, a segment) that switch
            // back and forth: same as before, the label before, or new.
            uint32_t how = 2;
            const bool short8 = f.size <= 8;
            if (short8) {
                const uint64_t now = LoadBits(r + f.offset, f.size), was = LoadBits(L + f.offset, f.size);
                how = now == was ? 0 : now == c.extraBefore[e] ? 1 : 2;
                io.Sym(extraHowTables[e] + c.extraHow[e], how);
                c.extraHow[e] = static_cast<uint8_t>(std::min<uint32_t>(how, 2));
                if (how == 0 || how == 1) {
                    const uint64_t v = how == 0 ? was : c.extraBefore[e];
                    if (how == 1) c.extraBefore[e] = was;
                    if constexpr (!Io::kEncoding) StoreBits(r + f.offset, f.size, v);
                    continue;
                }
            }
            if (extraBytes[e] != 0) {
                for (std::size_t b = 0; b < f.size; ++b) {
                    const uint8_t before = L[f.offset + b];
                    const bool fine = extraFine[e];
                    const uint32_t table = extraBytes[e] + static_cast<uint32_t>(b) * (fine ? 256 : 1) + (fine ? before : 0);
                    const uint8_t d = CodeByte(io, table, static_cast<uint8_t>(r[f.offset + b] - before));
                    KeepByte<Io>(r + f.offset + b, static_cast<uint8_t>(before + d));
                }
            } else {
                const int64_t before = Load(L, f);
                int64_t d = Sub(Load(r, f), before);
                CodeInt(io, extraInts[e], 0, d);
                if constexpr (!Io::kEncoding) Store(r, f, Add(before, d));
            }
            if (short8) c.extraBefore[e] = LoadBits(L + f.offset, f.size);
        }
        if (hasXY) {
            const uint64_t key = Grid::Key(cx, cy);
            Grid::Slot& slot = grid.slots[grid.SlotOf(key)];
            if (slot.key != key) slot = Grid::Slot{key, {}, {}, {}};
            slot.point[tag] = static_cast<uint32_t>(i + 1);
            slot.x[tag] = static_cast<int32_t>(vx);
            slot.y[tag] = static_cast<int32_t>(vy);
            // The cells a point to come looks up are fetched ahead. Only a
            // hint to the processor; nothing coded depends on it. Coding
            // knows where that point lies, a few points ahead; decoding
            // guesses the next point one step further on.
            int64_t nx = 2 * vx - lastX, ny = 2 * vy - lastY;
            if constexpr (Io::kEncoding) {
                const std::size_t ahead = std::min(i + kFetchAhead, count - 1);
                nx = X(recordOf(ahead));
                ny = Y(recordOf(ahead));
            }
            // Out of 32 bits the guess is wrong, which costs nothing.
            const int64_t ncx = static_cast<int64_t>(byCell(static_cast<uint64_t>(nx - int64_t(INT32_MIN))));
            const int64_t ncy = static_cast<int64_t>(byCell(static_cast<uint64_t>(ny - int64_t(INT32_MIN))));
            for (int64_t ox = -1; ox <= 1; ++ox) {
                for (int64_t oy = -1; oy <= 1; ++oy) {
                    __builtin_prefetch(&grid.slots[grid.SlotOf(Grid::Key(ncx + ox, ncy + oy))]);
                }
            }
            lastX = vx;
            lastY = vy;
        }
        c.seen = true;
        c.last = i;
        previousChannel = channel;
    }
}
