#include "engine/ExtPointModel.h"

#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/ExtPointModelLoop.h"
#include "engine/ExtSymbols.h"
#include "las/ByteOrder.h"
#include "las/Invariant.h"

namespace extgrid {
namespace {

void NearestPlain(const Slot* const* cells, int32_t x, int32_t y, std::size_t tag, uint32_t& same, uint32_t& any) {
    same = any = 0;
    uint64_t sameDistance = 0, anyDistance = 0;
    for (std::size_t o = 0; o < 9; ++o) {
        const Slot* slot = cells[o];
        if (!slot) continue;
        for (std::size_t t = 0; t < 4; ++t) {
            const uint32_t p = slot->point[t];
            if (p == 0) continue;
            // Unsigned: far points (a hostile cell size) wrap, alike on
            // both sides, rather than overflow.
            const uint64_t ex = static_cast<uint64_t>(std::abs(int64_t(slot->x[t]) - x));
            const uint64_t ey = static_cast<uint64_t>(std::abs(int64_t(slot->y[t]) - y));
            const uint64_t d = ex * ex + ey * ey;
            // Chosen without branches: which point is nearest is anyone's
            // guess, and a guess costs when wrong.
            const bool takeSame = (t == tag) & ((same == 0) | (d < sameDistance));
            same = takeSame ? p : same;
            sameDistance = takeSame ? d : sameDistance;
            const bool takeAny = (any == 0) | (d < anyDistance);
            any = takeAny ? p : any;
            anyDistance = takeAny ? d : anyDistance;
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The four classes of a cell side by side: each lane keeps the nearest
// point of its class over the cells so far, the first on ties. The nearest
// of any class is then the nearest of the four lanes' points, the first of
// them in the order of the plain search on ties: by cell, then by class.
__attribute__((target("avx2"))) void NearestAvx2(const Slot* const* cells, int32_t x, int32_t y, std::size_t tag,
                                                 uint32_t& same, uint32_t& any) {
    const __m128i px = _mm_set1_epi32(x), py = _mm_set1_epi32(y);
    // Unsigned 64-bit order as signed order with the top bit flipped.
    const __m256i flip = _mm256_set1_epi64x(INT64_MIN);
    const __m256i zero = _mm256_setzero_si256();
    __m256i bestD = flip, bestP = zero, bestO = zero;
    for (int o = 0; o < 9; ++o) {
        const Slot* slot = cells[o];
        if (!slot) continue;
        const __m256i p = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(slot->point.data())));
        const __m128i sx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slot->x.data()));
        const __m128i sy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slot->y.data()));
        // |a - b| of two 32-bit values is below 2^32: the larger less the
        // smaller, wrapping in 32 bits, gives it exactly.
        const __m256i ex = _mm256_cvtepu32_epi64(_mm_sub_epi32(_mm_max_epi32(sx, px), _mm_min_epi32(sx, px)));
        const __m256i ey = _mm256_cvtepu32_epi64(_mm_sub_epi32(_mm_max_epi32(sy, py), _mm_min_epi32(sy, py)));
        const __m256i d = _mm256_xor_si256(_mm256_add_epi64(_mm256_mul_epu32(ex, ex), _mm256_mul_epu32(ey, ey)), flip);
        const __m256i none = _mm256_cmpeq_epi64(bestP, zero);
        const __m256i nearer = _mm256_cmpgt_epi64(bestD, d);
        const __m256i take = _mm256_andnot_si256(_mm256_cmpeq_epi64(p, zero), _mm256_or_si256(none, nearer));
        bestD = _mm256_blendv_epi8(bestD, d, take);
        bestP = _mm256_blendv_epi8(bestP, p, take);
        bestO = _mm256_blendv_epi8(bestO, _mm256_set1_epi64x(o), take);
    }
    alignas(32) uint64_t distance[4], point[4], cell[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(distance), _mm256_xor_si256(bestD, flip));
    _mm256_store_si256(reinterpret_cast<__m256i*>(point), bestP);
    _mm256_store_si256(reinterpret_cast<__m256i*>(cell), bestO);
    same = static_cast<uint32_t>(point[tag]);
    any = 0;
    uint64_t anyDistance = 0, anyCell = 0;
    for (std::size_t t = 0; t < 4; ++t) {
        const bool take = point[t] != 0 && (any == 0 || distance[t] < anyDistance ||
                                            (distance[t] == anyDistance && cell[t] < anyCell));
        if (!take) continue;
        any = static_cast<uint32_t>(point[t]);
        anyDistance = distance[t];
        anyCell = cell[t];
    }
}
#endif

}  // namespace

const std::vector<Search>& Available() {
    static const std::vector<Search> all = [] {
        std::vector<Search> versions = {NearestPlain};
#if defined(__x86_64__) && defined(__GNUC__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) versions.push_back(NearestAvx2);
#endif
        return versions;
    }();
    return all;
}

}  // namespace extgrid

CExtPointModel::IntModel CExtPointModel::NewInt(uint32_t contexts, bool perContextTop) {
    IntModel m;
    m.contexts = contexts;
    m.kTables = tables;
    tables += contexts;
    m.topTables = tables;
    tables += kLengthSymbols * (perContextTop ? contexts : 1);
    m.topPerContext = perContextTop;
    m.midTables = tables;
    tables += kLengthSymbols;
    return m;
}

uint32_t CExtPointModel::NewBytes(uint32_t contexts) {
    const uint32_t first = tables;
    tables += contexts;
    return first;
}


namespace {

// An extra field of a number type other than floating point is coded as the
// difference of its values; the others byte by byte.
bool CodedAsInteger(const PointField& f) {
    return f.type != FieldType::Bytes && f.type != FieldType::F32 && f.type != FieldType::F64;
}

}  // namespace

CExtPointModel::SymbolCount CExtPointModel::SymbolsAtMost(const PointLayout& layout) {
    // As Code puts them: a byte one symbol; an integer its length, top and
    // middle bits (CodeInt); a field that mostly stays the same one more
    // for whether it changed.
    constexpr std::size_t kInt = 3, kChange = 1 + kInt;
    SymbolCount n;
    auto has = [&](FieldRole role) { return layout.Find(role) != nullptr; };
    for (const FieldRole byte : {FieldRole::FlagsByte, FieldRole::Classification, FieldRole::UserData}) {
        n.standard += has(byte) ? 1 : 0;
    }
    n.standard += has(FieldRole::ReturnByte) || has(FieldRole::ReturnsByte) ? 1 : 0;
    for (const FieldRole change : {FieldRole::ScanAngleRank, FieldRole::ScanAngle, FieldRole::PointSourceId,
                                   FieldRole::GpsTime}) {
        n.standard += has(change) ? kChange : 0;
    }
    n.standard += has(FieldRole::X) && has(FieldRole::Y) ? 2 * kInt : 0;
    for (const FieldRole integer : {FieldRole::Z, FieldRole::Intensity, FieldRole::Nir}) {
        n.standard += has(integer) ? kInt : 0;
    }
    n.standard += has(FieldRole::Red) && has(FieldRole::Green) && has(FieldRole::Blue) ? 3 * kInt : 0;
    for (const PointField& f : layout.fields) {
        if (f.role >= FieldRole::WavePacketIndex && f.role <= FieldRole::WaveZt) n.standard += kInt;
        if (f.role != FieldRole::Extra) continue;
        // Whether a short field is as before, as the time before, or new;
        // then a new value.
        n.extra += (f.size <= 8 ? 1 : 0) + (CodedAsInteger(f) ? kInt : f.size);
    }
    return n;
}

CExtPointModel::CExtPointModel(PointLayout description, int64_t cellSize, bool rich)
    : layout(std::move(description)), byCell(static_cast<uint64_t>(std::max<int64_t>(1, cellSize))), rich(rich) {
    x = layout.Find(FieldRole::X);
    y = layout.Find(FieldRole::Y);
    z = layout.Find(FieldRole::Z);
    intensity = layout.Find(FieldRole::Intensity);
    returnByte = layout.Find(FieldRole::ReturnByte);
    returnsByte = layout.Find(FieldRole::ReturnsByte);
    flagsByte = layout.Find(FieldRole::FlagsByte);
    classification = layout.Find(FieldRole::Classification);
    scanAngleRank = layout.Find(FieldRole::ScanAngleRank);
    scanAngle = layout.Find(FieldRole::ScanAngle);
    userData = layout.Find(FieldRole::UserData);
    pointSource = layout.Find(FieldRole::PointSourceId);
    gpsTime = layout.Find(FieldRole::GpsTime);
    red = layout.Find(FieldRole::Red);
    green = layout.Find(FieldRole::Green);
    blue = layout.Find(FieldRole::Blue);
    nir = layout.Find(FieldRole::Nir);
    for (const PointField& f : layout.fields) {
        // Code reads the standard fields as their roles' types.
        VELMORA_ASSERT(f.role == FieldRole::Extra || f.type == TypeOfRole(f.role));
        if (f.role >= FieldRole::WavePacketIndex && f.role <= FieldRole::WaveZt) wave.push_back(&f);
        if (f.role == FieldRole::Extra) extra.push_back(&f);
    }
    fields = {x && y,
              z != nullptr,
              intensity != nullptr,
              pointSource != nullptr,
              scanAngleRank != nullptr,
              scanAngle != nullptr,
              red && green && blue,
              flagsByte != nullptr,
              returnByte || returnsByte,
              returnByte != nullptr,
              classification != nullptr,
              userData != nullptr,
              gpsTime != nullptr,
              !extra.empty()};
    const unsigned guess = (flagsByte ? 1u : 0u) | (gpsTime ? 2u : 0u) | (red ? 4u : 0u) | (extra.empty() ? 0u : 8u);
    if (FieldsOf(guess) == fields) {
        loop = static_cast<std::size_t>(std::find(kLoopShapes.begin(), kLoopShapes.end() - 1, guess) - kLoopShapes.begin());
    }
    xInt = NewInt(64);
    yInt = NewInt(21, true);
    zInt = NewInt(16 * 2 * 10);
    intensityInt = NewInt(13 * 2);
    angleInt = NewInt(1);
    sourceInt = NewInt(1);
    timeInt = NewInt(1);
    colourInt = NewInt(33);
    nirInt = NewInt(1);
    waveInt = NewInt(7);
    returnBytes = NewBytes(256);
    flagBytes = NewBytes(256);
    classBytes = NewBytes(512);
    userBytes = NewBytes(256);
    // "Did it change?" tables: scan angle, point source, and the GPS time
    // in eight return contexts.
    sameTables = NewBytes(10);
    // Integers are coded as differences; floating-point values and bytes
    // byte by byte, each byte in the context of its value in the previous
    // point.
    // Fine contexts for at most kRichExtraBytes bytes of a record, field by
    // field: a record of thousands of extra bytes would otherwise need
    // hundreds of thousands of tables.
    std::size_t richBytes = 0;
    for (const PointField* f : extra) {
        const bool integer = CodedAsInteger(*f);
        const bool fine = rich && !integer && richBytes + f->size <= kRichExtraBytes;
        if (fine) richBytes += f->size;
        extraFine.push_back(fine);
        extraBytes.push_back(integer ? 0 : NewBytes(static_cast<uint32_t>(f->size) * (fine ? 256 : 1)));
        extraInts.push_back(integer ? NewInt(1) : IntModel{});
        extraHowTables.push_back(f->size <= 8 ? NewBytes(3) : 0);
    }
}

CExtPointModel::Grid::Grid() {
    // Blocks of large pages start on one; others (under the address
    // sanitizer) are aligned here.
    const std::size_t bytes = kSlots * sizeof(Slot) + alignof(Slot);
    block = std::unique_ptr<void, largepages::Giver>(largepages::Take(bytes), largepages::Giver{bytes});
    void* at = block.get();
    std::size_t room = bytes;
    slots = static_cast<Slot*>(std::align(alignof(Slot), kSlots * sizeof(Slot), at, room));
    std::uninitialized_fill_n(slots, kSlots, Slot{});
}

void CExtPointModel::Grid::Reset() { std::fill_n(slots, kSlots, Slot{}); }

// Compression's loops; decompression compiles its own (ExtPointModelDecode.cpp).
template void CExtPointModel::Code<CSymbolSink>(CSymbolSink&, uint8_t*, std::size_t);
