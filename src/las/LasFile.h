#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "las/Failure.h"
#include "las/FileIo.h"
#include "las/LasDigest.h"
#include "las/LasHeader.h"
#include "las/LasPoint.h"

// The point objects of one window, one array of a single class, plus the
// typed view the engine uses to reach the record bytes without virtual calls.
class PointStorage {
public:
    virtual ~PointStorage() = default;
    virtual LASPoint* At(std::size_t i) = 0;
    // Record bytes of point i lie at RecordBase() + i * Stride().
    virtual uint8_t* RecordBase() = 0;
    virtual std::size_t Stride() const = 0;
    virtual std::size_t Count() const = 0;
};

class CLasFile;

// Appends point records to the end of a LAS file in blocks, counting progress
// and flushing the file the way WritePoints does: the counter is set to 0,
// climbs by one at every hundredth record (every record for fewer than 100),
// and the file is flushed after record 0, every 50,000th record and at the end.
class CRecordAppender {
public:
    // Appends to las's file, or only to its digest when its output is
    // discarded.
    CRecordAppender(CLasFile& las, std::size_t recordLength, std::size_t totalRecords,
                    int* counter);
    ~CRecordAppender();
    // Appends n records of recordLength bytes each.
    void Append(const uint8_t* records, std::size_t n);
    void Finish();

private:
    struct State;
    std::unique_ptr<State> s;
};

// In-memory face of one LAS file: header, VLR block and one window of points.
// Every file operation opens the file by name, does one job and closes it.
class CLasFile {
public:
    CLasFile();
    ~CLasFile();
    CLasFile(const CLasFile&) = delete;
    CLasFile& operator=(const CLasFile&) = delete;

    void SetFileName(const std::string& path);
    const std::string& FileName() const { return fileName; }
    // The file open for reading: the same handle for every read, opened at
    // the first. Throws CLasException when it cannot be opened.
    CFile& Input() const;

    LasHeader* ReadHeader();
    // Reads the bytes between header and points and builds the VLR table;
    // returns the table, or null when the file has no VLR block.
    uint8_t* const* ReadVlrs();
    std::size_t CreatePoints();
    void CreatePointObjects();
    // Reads count records from record number first into a fresh window, which
    // becomes this file's points; returns the pointer array (null for a file
    // that declares no points).
    LASPoint** ReadPoints(uint32_t count, uint32_t first);
    // Reads count records from record number first as they lie in the file,
    // record after record, into out (for block-wise work without objects).
    void ReadRecords(uint32_t count, uint32_t first, std::vector<uint8_t>& out);
    // The same into the caller's room for count records.
    void ReadRecordsInto(uint32_t count, uint32_t first, uint8_t* out);
    void WriteHeader();
    void WriteVlrs();
    // The bytes WriteHeader and WriteVlrs write, in file order.
    std::vector<uint8_t> HeadBytes() const;
    void WritePoints(int* counter);
    void Clear();

    // Frees the current window (objects and pointer array).
    void ReleasePoints();

    LasHeader* Header() { return header.get(); }
    const LasHeader* Header() const { return header.get(); }
    void SetHeader(std::unique_ptr<LasHeader> h) { header = std::move(h); }

    // The VLR block as stored (gap bytes) and the table of VLR starts inside
    // it. The table holds only entries whose 54-byte VLR header lies wholly
    // inside the block, so it never points past the block.
    bool HasVlrBlock() const { return hasVlrBlock; }
    const std::vector<uint8_t>& VlrBlock() const { return vlrBlock; }
    uint8_t* const* VlrTable() const { return vlrTable.empty() ? nullptr : vlrTable.data(); }
    std::size_t VlrTableSize() const { return vlrTable.size(); }
    // Takes a VLR block read from elsewhere (an archive entry) and builds the
    // table over it.
    void SetVlrBlock(std::vector<uint8_t> block);

    // Every byte read from or written to the file passes through digest as
    // well (null: none). Clear() drops it.
    void SetDigest(CLasDigest* d) { digest = d; }
    CLasDigest* Digest() const { return digest; }
    // Writing goes to the digest alone: an entry is checked without a file
    // being made. Clear() ends it.
    void SetOutputDiscarded(bool discard) { discardOutput = discard; }
    bool OutputDiscarded() const { return discardOutput; }

    LASPoint** Points() { return points.empty() ? nullptr : points.data(); }
    std::size_t PointCount() const { return points.size(); }
    PointStorage* Storage() { return storage.get(); }

private:
    // The input positioned at record `first`, checked to hold `count`
    // records; the caller holds inputLock.
    CFile& OpenRecords(uint32_t count, uint32_t first) const;
    // Reads bytes at f's place into out, through the digest.
    void ReadOpened(CFile& f, uint8_t* out, std::size_t bytes);
    CFile OpenOutput(const char* mode) const;
    // Writes bytes to the output and the digest; throws message on failure.
    void Emit(CFile& f, const uint8_t* data, std::size_t n, const Failure& message);
    void BuildVlrTable();
    void AllocateObjects(std::size_t count, const Failure& memoryMessage);

    std::unique_ptr<LasHeader> header;
    std::vector<uint8_t> vlrBlock;
    std::vector<uint8_t*> vlrTable;
    bool hasVlrBlock = false;
    std::vector<LASPoint*> points;
    std::unique_ptr<PointStorage> storage;
    std::string fileName;
    // The LAS file being read, opened once for every read of it: a file is
    // read through one handle from its header to its last record.
    mutable std::unique_ptr<CFile> input;
    mutable std::mutex inputLock;
    CLasDigest* digest = nullptr;
    bool discardOutput = false;
};
