#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/StopGate.h"

class CFile;
class CLasFile;
class InputWindow;
class LasHeader;
struct ProcessorCode;

// The engine's face to the archive code: writes one archive entry's data
// (header image, VLR block, then raw records or coded chunks) from a LAS file,
// and rebuilds the LAS file from an entry. One lives in each archive object
// and is reused for every entry; separate codecs share no state, so they may
// run at the same time.
class CPointCodec {
public:
    CPointCodec();
    ~CPointCodec();
    CPointCodec(const CPointCodec&) = delete;
    CPointCodec& operator=(const CPointCodec&) = delete;

    // Before the call lasFile holds the file name, header and VLR block of
    // the LAS file, and outputFile is positioned where the entry begins.
    // Returns the number of bytes written (the growth of the file); rawMode
    // tells afterwards whether the points were stored uncompressed.
    // Throws CLasException on failure and CStopRequested after RequestStop().
    int64_t Compress(CFile* outputFile, CLasFile* lasFile);

    // inputFile is positioned at the entry's first byte; lasFile holds the
    // path of the LAS file to create. progressCounter (may be null) climbs
    // from 0 to about 100 for every window of points written.
    void Decompress(CFile* inputFile, CLasFile* lasFile, int* progressCounter);

    void ReleaseBuffers();

    // Asks a running Compress or Decompress (on another thread) to stop at
    // its next check; it then throws CStopRequested. The request stays until
    // ClearStop(), so a stop that arrives between two entries is not lost.
    void RequestStop() { gate.RequestStop(); }
    void ClearStop() { gate.ClearStop(); }
    bool StopRequested() const { return gate.StopRequested(); }
    // Holds the running Compress or Decompress at its next check point until
    // Resume() or RequestStop(); used while the user is asked whether to stop.
    void RequestPause() { gate.RequestPause(); }
    void Resume() { gate.Resume(); }
    bool Paused() const { return gate.Paused(); }
    // Waits while paused; throws CStopRequested when a stop is pending.
    void CheckPoint() { gate.CheckPoint(); }

    // Worker threads used to code one entry; 0 means one per core, as far
    // as the entry's largest chunk leaves memory for (chunkplan).
    void SetThreadCount(int n) { threadCount = n; }
    int ThreadCount() const { return threadCount; }

    // Chunks of the last Decompress whose streams were all decoded side by
    // side (in the others, some or all were decoded one after the other).
    int ParallelChunks() const { return parallelChunks; }

    // Makes this codec run these versions of the hot loops (by default
    // ProcessorCode::Detected()); every version writes and reads the same
    // bytes. Not while a Compress or Decompress is running.
    void UseProcessorCode(const ProcessorCode& code);
    const ProcessorCode& Code() const;

    // Progress for display, written by the threads of the running job.
    std::atomic<int32_t> streamsDone{0};
    std::atomic<int32_t> streamsTotal{0};
    std::atomic<double> ratio{0.0};
    bool rawMode = false;

private:
    // Resets the progress of a new entry starting at this file position;
    // throws CStopRequested when a stop is pending.
    void BeginEntry(int64_t startPosition);
    void WriteEntryHead(CFile& out, CLasFile& las);
    void CompressRaw(CFile& out, CLasFile& las);
    void CompressChunks(CFile& out, CLasFile& las);
    int ThreadsFor(const std::vector<int64_t>& chunkSizes, int format) const;
    void ReadEntryHead(InputWindow& in, CLasFile& las);
    void DecompressRaw(InputWindow& in, CLasFile& las, int* progressCounter);
    void DecompressChunks(InputWindow& in, CLasFile& las, int* progressCounter);
    // Adds a row's (or the entry head's) uncompressed bits and the archive
    // bytes so far to the running ratio.
    void AddToRatio(uint64_t bits, int64_t bytes);

    struct Impl;
    std::unique_ptr<Impl> impl;
    CStopGate gate;
    int threadCount = 0;
    int parallelChunks = 0;
};

// Reads a classic entry's header image and VLR block (at the window's
// position; available: the bytes the entry may take) into las, with the
// header as the LAS file has it; throws CLasException when they are
// damaged.
void ReadClassicEntryHead(InputWindow& in, int64_t available, CLasFile& las);

// The LAS file's own header from a classic entry's header image: the
// signature's "L" where the image has its marker, and no VLRs declared where
// the block after it was gap bytes.
LasHeader LasHeaderOf(const LasHeader& image);
