#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

struct XXH3_state_s;

// The checksum of a LAS file's bytes in file order (64-bit XXH3), taken while
// the bytes pass on their way in or out, so that checking a file costs no
// second pass over it. Bytes are offered with their file offset; only those
// beyond what was already taken count, and a gap is read from the file itself,
// so the result is the checksum of the whole file however the reads went.
class CLasDigest {
public:
    explicit CLasDigest(std::string path);
    ~CLasDigest();
    CLasDigest(const CLasDigest&) = delete;
    CLasDigest& operator=(const CLasDigest&) = delete;

    // Bytes of the file at offset, as they were read or written.
    void Take(int64_t offset, const uint8_t* data, std::size_t n);
    // Bytes that follow those taken so far (a file being written).
    void TakeNext(const uint8_t* data, std::size_t n);
    // Takes the bytes up to length not yet seen from the file, then returns
    // the checksum of its first length bytes. False when they cannot be read.
    bool Finish(int64_t length, uint64_t& checksum);
    int64_t BytesTaken() const;
    // The checksum of the bytes taken so far.
    uint64_t Value() const;

    // The checksum of a block of memory, as Finish would give for a file
    // holding exactly those bytes.
    static uint64_t Of(const uint8_t* data, std::size_t n);

private:
    bool ReadGap(int64_t upTo);

    std::string path;
    XXH3_state_s* state;
    int64_t taken = 0;
    mutable std::mutex mutex;
};
