#include "las/LasFacts.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "las/ByteOrder.h"
#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

namespace {

// Where the header block keeps its fields (the same in every version; the
// later versions' fields follow the earlier ones').
constexpr std::size_t kFileSourceId = 4, kGlobalEncoding = 6, kSystemId = 26, kSoftware = 58, kDay = 90,
                      kYear = 92, kLegacyByReturn = 111, kScale = 131, kOffset = 155, kMaxX = 179,
                      kByReturn = 255;
constexpr std::size_t kVlrHeader = 54, kEvlrHeader = 60;
// The projection records: GeoTIFF's key directory, and a coordinate
// system's OGC WKT.
constexpr char kProjection[] = "LASF_Projection";
constexpr uint16_t kGeoKeys = 34735, kWkt = 2112;
constexpr uint16_t kProjectedKey = 3072, kGeographicKey = 2048, kLinearUnitsKey = 3076;
constexpr uint16_t kUserDefined = 32767;

// A fixed-size text field: up to its first NUL, trailing blanks dropped.
std::string Text(const uint8_t* p, std::size_t n) {
    std::size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    while (len > 0 && p[len - 1] == ' ') --len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

// The EPSG code of a GeoTIFF key directory: the projected system's, else
// the geographic one's, when given directly (not user-defined); and the unit
// of x and y (a projected system's linear unit, a geographic one's degrees).
int EpsgOfGeoKeys(const uint8_t* p, std::size_t n, std::string& unit) {
    if (n < 8) return 0;
    const std::size_t keys = le::LoadU16(p + 6);
    int projected = 0, geographic = 0, linear = 0;
    for (std::size_t k = 0; k < keys && 8 + 8 * k + 8 <= n; ++k) {
        const uint8_t* key = p + 8 + 8 * k;
        const uint16_t id = le::LoadU16(key), location = le::LoadU16(key + 2), value = le::LoadU16(key + 6);
        if (location != 0 || value == 0 || value == kUserDefined) continue;
        if (id == kProjectedKey) projected = value;
        if (id == kGeographicKey) geographic = value;
        if (id == kLinearUnitsKey) linear = value;
    }
    // EPSG's codes of the common units of length.
    if (linear == 9001) unit = "metre";
    if (linear == 9002) unit = "foot";
    if (linear == 9003) unit = "US survey foot";
    if (projected == 0 && geographic != 0) unit = "degree";
    return projected != 0 ? projected : geographic;
}

// The name of a WKT's outermost system (its first quoted text) and the EPSG
// code of that system's own authority: the AUTHORITY (WKT 1) or ID (WKT 2)
// element directly inside it, not one of its parts' (a unit's, a datum's).
void ReadWkt(const uint8_t* p, std::size_t n, LasFacts& facts) {
    const std::string wkt = Text(p, n);
    int depth = 0;
    bool quoted = false, named = false;
    for (std::size_t i = 0; i < wkt.size(); ++i) {
        const char c = wkt[i];
        if (c == '"') {
            if (!quoted && !named) {
                const std::size_t close = wkt.find('"', i + 1);
                if (close == std::string::npos) return;
                facts.crsName = wkt.substr(i + 1, close - i - 1);
                named = true;
            }
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        if (c == '[' || c == '(') ++depth;
        if (c == ']' || c == ')') --depth;
        if (depth != 1) continue;
        // The system's own unit: the first UNIT (WKT 1) or LENGTHUNIT or
        // ANGLEUNIT (WKT 2) directly inside it.
        for (const char* tag : {",UNIT[\"", ",LENGTHUNIT[\"", ",ANGLEUNIT[\""}) {
            if (wkt.compare(i, std::strlen(tag), tag) != 0) continue;
            const std::size_t from = i + std::strlen(tag), close = wkt.find('"', from);
            if (close != std::string::npos) facts.linearUnit = wkt.substr(from, close - from);
        }
        for (const char* tag : {"AUTHORITY[\"EPSG\",", "ID[\"EPSG\","}) {
            if (wkt.compare(i, std::strlen(tag), tag) != 0) continue;
            std::size_t k = i + std::strlen(tag);
            while (k < wkt.size() && (wkt[k] == '"' || wkt[k] == ' ')) ++k;
            int code = 0;
            while (k < wkt.size() && wkt[k] >= '0' && wkt[k] <= '9' && code < 100000000) code = code * 10 + (wkt[k++] - '0');
            if (code != 0) facts.epsg = code;
            return;
        }
    }
}

void ReadProjection(const VlrFacts& v, const uint8_t* payload, std::size_t n, LasFacts& facts) {
    if (v.userId != kProjection) return;
    if (v.recordId == kGeoKeys && facts.epsg == 0) facts.epsg = EpsgOfGeoKeys(payload, n, facts.linearUnit);
    // A WKT, where there is one, is what the file is read by; its code
    // stands over the GeoTIFF keys'.
    if (v.recordId == kWkt) ReadWkt(payload, n, facts);
}

}  // namespace

LasFacts ReadLasFacts(const uint8_t* head, std::size_t size, int64_t fileSize) {
    LasFacts f;
    f.layout = ReadLasLayout(head, std::min(size, kLasLayoutBytes), fileSize);
    f.fileSourceId = le::LoadU16(head + kFileSourceId);
    f.globalEncoding = le::LoadU16(head + kGlobalEncoding);
    f.systemIdentifier = Text(head + kSystemId, 32);
    f.generatingSoftware = Text(head + kSoftware, 32);
    f.creationDay = le::LoadU16(head + kDay);
    f.creationYear = le::LoadU16(head + kYear);
    for (int r = 0; r < 5; ++r) f.pointsByReturn.push_back(le::LoadU32(head + kLegacyByReturn + 4 * r));
    if (f.layout.versionMinor >= 4 && f.layout.headerSize >= kByReturn + 15 * 8 && size >= kByReturn + 15 * 8) {
        f.pointsByReturn.clear();
        for (int r = 0; r < 15; ++r) f.pointsByReturn.push_back(le::LoadU64(head + kByReturn + 8 * r));
    }
    for (int a = 0; a < 3; ++a) {
        f.scale[a] = le::LoadF64(head + kScale + 8 * a);
        f.offset[a] = le::LoadF64(head + kOffset + 8 * a);
        f.maximum[a] = le::LoadF64(head + kMaxX + 16 * a);
        f.minimum[a] = le::LoadF64(head + kMaxX + 16 * a + 8);
    }
    // The VLRs, as far as the bytes before the points hold them.
    const std::size_t end = std::min<std::size_t>(size, f.layout.offsetToPoints);
    std::size_t at = f.layout.headerSize;
    for (uint32_t k = 0; k < f.layout.vlrCount; ++k) {
        if (at + kVlrHeader > end) {
            f.vlrsComplete = false;
            break;
        }
        const uint8_t* p = head + at;
        VlrFacts v{Text(p + 2, 16), le::LoadU16(p + 18), Text(p + 22, 32), le::LoadU16(p + 20), false};
        at += kVlrHeader;
        const std::size_t have = std::min<std::size_t>(v.length, end - at);
        ReadProjection(v, head + at, have, f);
        if (have < v.length) f.vlrsComplete = false;
        at += have;
        f.vlrs.push_back(std::move(v));
    }
    return f;
}

CEvlrScanner::CEvlrScanner(LasFacts& f)
    : facts(f), next(f.layout.evlrCount > 0 && f.layout.evlrStart > 0 ? f.layout.evlrStart : ULLONG_MAX),
      left(f.layout.evlrCount) {}

void CEvlrScanner::Take(uint64_t offset, const uint8_t* data, std::size_t n) {
    while (left > 0) {
        const uint64_t want = next + header.size();  // the next byte of a header still needed
        if (want < offset || want - offset >= n) return;
        const auto from = static_cast<std::size_t>(want - offset);
        const std::size_t k = std::min(kEvlrHeader - header.size(), n - from);
        header.insert(header.end(), data + from, data + from + k);
        if (header.size() < kEvlrHeader) return;  // the rest comes with the next bytes
        const uint8_t* p = header.data();
        VlrFacts v{Text(p + 2, 16), le::LoadU16(p + 18), Text(p + 28, 32), le::LoadU64(p + 20), true};
        // A projection record after the points is read when these bytes
        // hold it whole.
        const uint64_t payload = next + kEvlrHeader;
        if (payload >= offset && payload - offset <= n && v.length <= n - (payload - offset)) {
            ReadProjection(v, data + (payload - offset), static_cast<std::size_t>(v.length), facts);
        }
        facts.vlrs.push_back(v);
        header.clear();
        --left;
        next = left == 0 || v.length > ULLONG_MAX - payload ? ULLONG_MAX : payload + v.length;
    }
}

LasFacts ReadLasFileFacts(const std::string& path) {
    CFile file;
    if (!file.Open(path, "rb")) throw CLasException(lasmsg::kReadOpen, true, file.LastError());
    std::vector<uint8_t> head;
    return ReadLasFileFacts(file, head);
}

LasFacts ReadLasFileFacts(CFile& file, std::vector<uint8_t>& head) {
    // As much of the file as a listing reads at a time.
    constexpr std::size_t kWindow = 16u << 20;
    const int64_t size = file.Size();
    head.assign(static_cast<std::size_t>(std::min<int64_t>(std::max<int64_t>(size, 0), kLasLayoutBytes)), 0);
    if (size < 0 || !file.Seek(0)) throw CLasException(lasmsg::kReadHeader, true, file.LastError());
    if (!file.ReadExact(head.data(), head.size())) throw CLasException(lasmsg::kReadHeader, true, file.LastError());
    const LasFileLayout layout = ReadLasLayout(head.data(), head.size(), size);
    head.resize(std::min<std::size_t>(std::max<std::size_t>(layout.offsetToPoints, head.size()), kWindow));
    if (!file.Seek(0) || !file.ReadExact(head.data(), head.size())) throw CLasException(lasmsg::kReadHeader, true, file.LastError());
    LasFacts facts = ReadLasFacts(head.data(), head.size(), size);
    CEvlrScanner evlrs(facts);
    std::vector<uint8_t> window;
    while (evlrs.Next() < static_cast<uint64_t>(size)) {
        const uint64_t at = evlrs.Next();
        window.resize(static_cast<std::size_t>(std::min<uint64_t>(kWindow, static_cast<uint64_t>(size) - at)));
        if (!file.Seek(static_cast<int64_t>(at)) || !file.ReadExact(window.data(), window.size())) break;
        evlrs.Take(at, window.data(), window.size());
        if (evlrs.Next() == at) break;  // a header cut short by the end of the file
    }
    return facts;
}
