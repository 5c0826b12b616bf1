#include "las/LasDigest.h"

#include <xxhash.h>

#include <algorithm>
#include <vector>

#include "las/FileIo.h"

CLasDigest::CLasDigest(std::string path) : path(std::move(path)), state(XXH3_createState()) {
    XXH3_64bits_reset(state);
}

CLasDigest::~CLasDigest() { XXH3_freeState(state); }

bool CLasDigest::ReadGap(int64_t upTo) {
    constexpr int64_t kBlock = 1 << 20;
    CFile f;
    if (!f.Open(path, "rb") || !f.Seek(taken)) return false;
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min(kBlock, upTo - taken)));
    while (taken < upTo) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), upTo - taken));
        if (!f.ReadExact(buffer.data(), n)) return false;
        XXH3_64bits_update(state, buffer.data(), n);
        taken += static_cast<int64_t>(n);
    }
    return true;
}

void CLasDigest::Take(int64_t offset, const uint8_t* data, std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    const int64_t end = offset + static_cast<int64_t>(n);
    if (end <= taken) return;
    // Bytes skipped over are read from the file; should that fail, the
    // checksum stays short and can never match.
    if (offset > taken && !ReadGap(offset)) return;
    const int64_t skip = taken - offset;
    XXH3_64bits_update(state, data + skip, static_cast<std::size_t>(end - taken));
    taken = end;
}

void CLasDigest::TakeNext(const uint8_t* data, std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    XXH3_64bits_update(state, data, n);
    taken += static_cast<int64_t>(n);
}

bool CLasDigest::Finish(int64_t length, uint64_t& checksum) {
    std::lock_guard<std::mutex> lock(mutex);
    if (taken > length || (taken < length && !ReadGap(length))) return false;
    checksum = XXH3_64bits_digest(state);
    return true;
}

int64_t CLasDigest::BytesTaken() const {
    std::lock_guard<std::mutex> lock(mutex);
    return taken;
}

uint64_t CLasDigest::Value() const {
    std::lock_guard<std::mutex> lock(mutex);
    return XXH3_64bits_digest(state);
}

uint64_t CLasDigest::Of(const uint8_t* data, std::size_t n) { return XXH3_64bits(data, n); }
