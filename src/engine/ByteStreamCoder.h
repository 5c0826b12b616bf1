#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/LargePages.h"

class InputWindow;

// A growable byte array whose new room is not cleared, so room reserved for
// the worst case but never written costs no memory. Kept between chunks, it
// is allocated once for the largest.
class CByteBuffer {
public:
    // How the room a buffer takes will be used: written in full (its memory
    // comes in large pages, see largepages), or only in part, up to a point
    // not known beforehand (small pages: what is never written costs no
    // memory, where a large page would hold 2 MB for its first byte). A
    // buffer keeps the memory it has for either use.
    enum class Use { Filled, Room };

    uint8_t* Data() { return bytes.get(); }
    const uint8_t* Data() const { return bytes.get(); }
    std::size_t Size() const { return size; }
    void Clear() { size = 0; }
    // Adds n bytes of room at the end and returns where they begin.
    uint8_t* Grow(std::size_t n, Use use = Use::Filled);
    // Cuts the buffer at end, which lies inside it.
    void Shrink(const uint8_t* end) { size = static_cast<std::size_t>(end - bytes.get()); }
    void Append(const void* src, std::size_t n);
    // Room for `total` bytes in all, taken at once: appending piece by
    // piece would otherwise move the bytes at each growth.
    void Reserve(std::size_t total, Use use = Use::Filled);
    // Gives the memory back.
    void Release();

private:
    std::unique_ptr<uint8_t[], largepages::Giver> bytes;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// The semi-static order-0 arithmetic coder for byte arrays. A stream in the
// file is 256 cumulative 16-bit counts (scaled to a total of 10,000), the
// coded bits most significant first, and the end marker FF FF 00. No length
// is stored: the decoder is told how many bytes to produce and finds the end
// marker around the place where it stopped reading.
namespace bytestream {

inline constexpr uint32_t kTotal = 10000;
inline constexpr std::size_t kCountBytes = 512;

namespace detail {
struct EncodeLane;
struct DecodeLane;
}  // namespace detail

// The versions of the encoder's inner loops one codec runs: the loops that
// advance one to four lanes, and optionally the one that advances up to
// eight in vector registers. Every version writes the same bytes; they
// differ in the instructions they may use, so only versions this processor
// runs may be chosen.
struct EncoderLoops {
    using Run = void (*)(detail::EncodeLane* const* lanes, std::size_t from, std::size_t steps);
    using VectorRun = void (*)(detail::EncodeLane* const* lanes, int live, std::size_t from, std::size_t steps);

    const char* name;
    Run lanes[4];      // lanes[n - 1] advances n lanes
    VectorRun vector;  // null: the batches are those of `lanes`

    // The baseline versions, which any processor of the build's kind runs.
    static EncoderLoops Plain();
    // Every version this processor runs, Plain() first, the fastest last.
    static std::vector<EncoderLoops> Available();
};

// The same for the decoder, whose loops advance one to three lanes.
struct DecoderLoops {
    using Run = void (*)(detail::DecodeLane* const* lanes, std::size_t steps);

    const char* name;
    Run lanes[3];  // lanes[n - 1] advances n lanes

    static DecoderLoops Plain();
    static std::vector<DecoderLoops> Available();
};

// How often each byte value occurs in data[0 .. length).
void CountValues(const uint8_t* data, std::size_t length, uint64_t counts[256]);

// Frequencies of the 256 byte values for `data`, summing to exactly kTotal,
// every occurring value at least 1.
void BuildModel(const uint8_t* data, std::size_t length, uint16_t freq[256]);
// Takes an excess of d > 0 units out of freq: the whole of it from the first
// value whose frequency exceeds it by more than 10, one unit from every value
// of 3 or more passed on the way, pass after pass until none is left.
void AbsorbExcess(uint16_t freq[256], int32_t d);

// Appends one coded stream for data[0 .. length) (length >= 1) to out. When
// emittedBits is given it receives the number of coded bits before padding.
void EncodeByteStream(const uint8_t* data, std::size_t length, CByteBuffer& out, const EncoderLoops& loops,
                      std::size_t* emittedBits = nullptr);
void EncodeByteStream(const uint8_t* data, std::size_t length, std::vector<uint8_t>& out,
                      const EncoderLoops& loops, std::size_t* emittedBits = nullptr);

struct EncodeRequest {
    const uint8_t* data = nullptr;
    std::size_t length = 0;        // at least 1
    CByteBuffer* out = nullptr;    // the stream is appended to it
    std::size_t* emittedBits = nullptr;
};
// Several streams coded side by side, each into its own buffer; the same
// bytes as coding them one after the other, in a fraction of the time.
void EncodeByteStreams(const EncodeRequest* requests, std::size_t count, const EncoderLoops& loops);

// Whether 512 count bytes can head a stream: cumulative counts that never
// fall and end at the total. Anything else is damage, and decoding with it
// could divide by zero. The one test both the decoder and the search for a
// chunk's streams apply.
bool ValidCountTable(const uint8_t* counts);

// Decodes one stream starting at the window's position into out[0 .. length)
// and leaves the window at the first byte after the stream's end marker.
// Throws CLasException "Unable to find stream" when the stream is damaged.
void DecodeByteStream(InputWindow& in, uint8_t* out, std::size_t length, const DecoderLoops& loops);

// The same for a stream held in memory: data[0 .. size) holds the stream
// starting at offset (and, for its end marker, the bytes after it when
// there are any). Returns the offset of the next item.
std::size_t DecodeByteStreamAt(const uint8_t* data, std::size_t size, std::size_t offset, uint8_t* out,
                               std::size_t length, const DecoderLoops& loops);

struct DecodeRequest {
    std::size_t offset = 0;  // in: where the stream starts
    uint8_t* out = nullptr;  // in: length bytes of room
    std::size_t length = 0;
    std::size_t next = 0;    // out: where the next item begins
    bool failed = false;     // out: the stream is damaged (or not where assumed)
};
// Streams held in memory, decoded side by side. A damaged stream fails
// alone; the others are decoded all the same.
void DecodeByteStreamsAt(const uint8_t* data, std::size_t size, DecodeRequest* requests, std::size_t count,
                         const DecoderLoops& loops);

}  // namespace bytestream
