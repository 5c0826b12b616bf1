#pragma once

// A LAS file of any version held in memory and read back through the LAS
// layer's own descriptions (ReadLasLayout, DescribePoints), for tests of the
// files the tools write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "las/ByteOrder.h"
#include "las/LasLayout.h"
#include "las/PointFormat.h"

struct LasFileView {
    explicit LasFileView(const std::string& path) : bytes(testsupport::ReadAll(path)) {
        layout = ReadLasLayout(bytes.data(), std::min(bytes.size(), kLasLayoutBytes),
                               static_cast<int64_t>(bytes.size()));
        extraBytesVlr = FindExtraBytesVlr(bytes.data() + layout.headerSize,
                                          layout.offsetToPoints - layout.headerSize, layout.vlrCount);
        points = DescribePoints(layout.PointFormat(), layout.recordLength, extraBytesVlr);
    }

    uint64_t Count() const { return layout.pointCount; }
    const uint8_t* Record(uint64_t i) const { return bytes.data() + layout.offsetToPoints + i * layout.recordLength; }

    const PointField& Field(FieldRole role) const {
        const PointField* f = points.Find(role);
        if (f == nullptr) throw std::runtime_error("format has no such field");
        return *f;
    }
    const PointField& Named(const std::string& name) const {
        for (const PointField& f : points.fields) {
            if (f.name == name) return f;
        }
        throw std::runtime_error("no field " + name);
    }
    // The value of a field of record i, whatever its type.
    double Value(uint64_t i, const PointField& f) const {
        const uint8_t* p = Record(i) + f.offset;
        switch (f.type) {
            case FieldType::U8: return *p;
            case FieldType::I8: return static_cast<int8_t>(*p);
            case FieldType::U16: return le::LoadU16(p);
            case FieldType::I16: return static_cast<int16_t>(le::LoadU16(p));
            case FieldType::U32: return le::LoadU32(p);
            case FieldType::I32: return le::LoadI32(p);
            case FieldType::U64: return static_cast<double>(le::LoadU64(p));
            case FieldType::I64: return static_cast<double>(static_cast<int64_t>(le::LoadU64(p)));
            case FieldType::F32: {
                float v;
                const uint32_t bits = le::LoadU32(p);
                std::memcpy(&v, &bits, sizeof v);
                return v;
            }
            case FieldType::F64: return le::LoadF64(p);
            case FieldType::Bytes: break;
        }
        throw std::runtime_error("a field of bytes has no value");
    }
    double Value(uint64_t i, FieldRole role) const { return Value(i, Field(role)); }
    // Bits of record i, named as DescribePoints names them.
    unsigned Bits(uint64_t i, const std::string& name) const {
        for (const PointField& f : points.fields) {
            for (const BitField& b : f.bits) {
                if (b.name == name) return (Record(i)[f.offset] >> b.shift) & ((1u << b.width) - 1);
            }
        }
        throw std::runtime_error("no bits " + name);
    }

    uint32_t U32(std::size_t at) const { return le::LoadU32(bytes.data() + at); }
    uint64_t U64(std::size_t at) const { return le::LoadU64(bytes.data() + at); }
    double F64(std::size_t at) const { return le::LoadF64(bytes.data() + at); }
    std::string Text(std::size_t at, std::size_t n) const {
        const char* s = reinterpret_cast<const char*>(bytes.data() + at);
        return std::string(s, strnlen(s, n));
    }

    std::vector<uint8_t> bytes;
    LasFileLayout layout;
    std::vector<uint8_t> extraBytesVlr;
    PointLayout points;
};
