#include "las/LasPoint.h"

#include <cstring>

#include "las/ByteOrder.h"

template <int F> int32_t LASPointT<F>::GetX() const { return le::LoadI32(record + rec::kX); }
template <int F> int32_t LASPointT<F>::GetY() const { return le::LoadI32(record + rec::kY); }
template <int F> int32_t LASPointT<F>::GetZ() const { return le::LoadI32(record + rec::kZ); }
template <int F> uint16_t LASPointT<F>::GetIntensity() const {
    return le::LoadU16(record + rec::kIntensity);
}
template <int F> uint16_t LASPointT<F>::GetPointSourceId() const {
    return le::LoadU16(record + rec::kPointSourceId);
}

template <int F> double LASPointT<F>::GetGpsTime() const {
    if constexpr (rec::HasGpsTime(F)) return le::LoadF64(record + rec::kGpsTime);
    return 0.0;
}
template <int F> int64_t LASPointT<F>::GetGpsTimeBits() const {
    if constexpr (rec::HasGpsTime(F)) {
        return static_cast<int64_t>(le::LoadU64(record + rec::kGpsTime));
    }
    return 0;
}

template <int F> void LASPointT<F>::SetX(int32_t v) { le::StoreI32(record + rec::kX, v); }
template <int F> void LASPointT<F>::SetY(int32_t v) { le::StoreI32(record + rec::kY, v); }
template <int F> void LASPointT<F>::SetZ(int32_t v) { le::StoreI32(record + rec::kZ, v); }
template <int F> void LASPointT<F>::SetIntensity(uint16_t v) {
    le::StoreU16(record + rec::kIntensity, v);
}
template <int F> void LASPointT<F>::SetPointSourceId(uint16_t v) {
    le::StoreU16(record + rec::kPointSourceId, v);
}

template <int F> void LASPointT<F>::SetGpsTime(double v) {
    if constexpr (rec::HasGpsTime(F)) le::StoreF64(record + rec::kGpsTime, v);
}
// The bit pattern goes in as it is: no floating-point value is ever formed,
// so signalling NaNs and every other pattern survive unchanged.
template <int F> void LASPointT<F>::SetGpsTimeBits(int64_t bits) {
    if constexpr (rec::HasGpsTime(F)) le::StoreU64(record + rec::kGpsTime, static_cast<uint64_t>(bits));
}

template <int F> uint16_t LASPointT<F>::Rgb(int channel) const {
    if constexpr (rec::HasRgb(F)) return le::LoadU16(record + rec::RgbOffset(F) + 2 * channel);
    return 0;
}
template <int F> void LASPointT<F>::SetRgb(int channel, uint16_t v) {
    if constexpr (rec::HasRgb(F)) le::StoreU16(record + rec::RgbOffset(F) + 2 * channel, v);
}

template class LASPointT<0>;
template class LASPointT<1>;
template class LASPointT<2>;
template class LASPointT<3>;
