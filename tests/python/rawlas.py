"""A reading of LAS files with struct and numpy alone, to hold the module's
arrays against. Nothing here comes from Velmora: the record layouts are
written out by hand from the LAS format's published tables."""

import struct

import numpy as np

# The fields every record of formats 0-5 starts with, and of formats 6-10.
LEGACY_CORE = [
    ("X", "<i4"), ("Y", "<i4"), ("Z", "<i4"), ("intensity", "<u2"),
    ("return_byte", "u1"), ("class_byte", "u1"), ("scan_angle_rank", "i1"),
    ("user_data", "u1"), ("point_source_id", "<u2"),
]
EXTENDED_CORE = [
    ("X", "<i4"), ("Y", "<i4"), ("Z", "<i4"), ("intensity", "<u2"),
    ("returns_byte", "u1"), ("flags_byte", "u1"), ("classification", "u1"),
    ("user_data", "u1"), ("scan_angle", "<i2"), ("point_source_id", "<u2"),
    ("gps_time", "<f8"),
]
GPS = [("gps_time", "<f8")]
RGB = [("red", "<u2"), ("green", "<u2"), ("blue", "<u2")]
NIR = [("nir", "<u2")]
WAVE = [
    ("wavepacket_index", "u1"), ("wavepacket_offset", "<u8"), ("wavepacket_size", "<u4"),
    ("return_point_wave_location", "<f4"), ("x_t", "<f4"), ("y_t", "<f4"), ("z_t", "<f4"),
]

RECORD_FIELDS = {
    0: LEGACY_CORE,
    1: LEGACY_CORE + GPS,
    2: LEGACY_CORE + RGB,
    3: LEGACY_CORE + GPS + RGB,
    4: LEGACY_CORE + GPS + WAVE,
    5: LEGACY_CORE + GPS + RGB + WAVE,
    6: EXTENDED_CORE,
    7: EXTENDED_CORE + RGB,
    8: EXTENDED_CORE + RGB + NIR,
    9: EXTENDED_CORE + WAVE,
    10: EXTENDED_CORE + RGB + NIR + WAVE,
}
# The record lengths the LAS tables give; the layouts above must add up to them.
STANDARD_LENGTH = {0: 20, 1: 28, 2: 26, 3: 34, 4: 57, 5: 63, 6: 30, 7: 36, 8: 38, 9: 59, 10: 67}

# Bit fields: (name, byte, shift, width).
LEGACY_BITS = {
    "return_byte": [("return_number", 0, 3), ("number_of_returns", 3, 3),
                    ("scan_direction_flag", 6, 1), ("edge_of_flight_line", 7, 1)],
    "class_byte": [("classification", 0, 5), ("synthetic", 5, 1), ("key_point", 6, 1), ("withheld", 7, 1)],
}
EXTENDED_BITS = {
    "returns_byte": [("return_number", 0, 4), ("number_of_returns", 4, 4)],
    "flags_byte": [("synthetic", 0, 1), ("key_point", 1, 1), ("withheld", 2, 1), ("overlap", 3, 1),
                   ("scanner_channel", 4, 2), ("scan_direction_flag", 6, 1), ("edge_of_flight_line", 7, 1)],
}

# Extra Bytes data types 1-10.
EXTRA_TYPES = {1: "u1", 2: "i1", 3: "<u2", 4: "<i2", 5: "<u4", 6: "<i4", 7: "<u8", 8: "<i8", 9: "<f4", 10: "<f8"}


class LasFile:
    """The header facts and the point records of one LAS file."""

    def __init__(self, path):
        self.path = str(path)
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:4] != b"LASF":
            raise ValueError(f"{path}: not a LAS file")
        self.version = (d[24], d[25])
        self.header_size = struct.unpack_from("<H", d, 94)[0]
        self.point_offset = struct.unpack_from("<I", d, 96)[0]
        self.vlr_count = struct.unpack_from("<I", d, 100)[0]
        self.point_format = d[104] & 0x3F
        self.record_length = struct.unpack_from("<H", d, 105)[0]
        count = struct.unpack_from("<I", d, 107)[0]
        if self.version >= (1, 4) and self.header_size >= 255:
            count = struct.unpack_from("<Q", d, 247)[0]
        self.point_count = count
        self.scale = struct.unpack_from("<3d", d, 131)
        self.offset = struct.unpack_from("<3d", d, 155)
        max_x, min_x, max_y, min_y, max_z, min_z = struct.unpack_from("<6d", d, 179)
        self.minimum = (min_x, min_y, min_z)
        self.maximum = (max_x, max_y, max_z)

    @property
    def points_fit(self):
        """Whether the file holds every record its header counts."""
        return self.point_offset + self.point_count * self.record_length <= len(self.data)

    def extra_bytes_vlr(self):
        """The payload of the Extra Bytes VLR (LASF_Spec, record 4), or None."""
        at = self.header_size
        for _ in range(self.vlr_count):
            if at + 54 > self.point_offset:
                break
            user = self.data[at + 2:at + 18].split(b"\0", 1)[0]
            record_id, length = struct.unpack_from("<HH", self.data, at + 18)
            if user == b"LASF_Spec" and record_id == 4 and at + 54 + length <= self.point_offset:
                return self.data[at + 54:at + 54 + length]
            at += 54 + length
        return None

    def extra_fields(self, start, room):
        """The extra-byte fields after the standard ones: (name, numpy format,
        offset in the record), as the descriptors give them; one unnamed run
        of bytes when they do not account for exactly `room` bytes."""
        fallback = [("extra_bytes", ("u1", (room,)), start)]
        vlr = self.extra_bytes_vlr()
        if vlr is None:
            return fallback
        fields, at = [], start
        for d in range(0, len(vlr) - 191, 192):
            data_type, options = vlr[d + 2], vlr[d + 3]
            name = vlr[d + 4:d + 36].split(b"\0", 1)[0].decode("utf-8", "surrogateescape")
            if data_type == 0:
                if options == 0:
                    return fallback
                fields.append((name, ("u1", (options,)), at))
                at += options
                continue
            if data_type > 30:
                return fallback
            parts = 1 if data_type <= 10 else 2 if data_type <= 20 else 3
            base = EXTRA_TYPES[(data_type - 1) % 10 + 1]
            for k in range(parts):
                fields.append((name if parts == 1 else f"{name}[{k}]", base, at))
                at += np.dtype(base).itemsize
        if at != start + room:
            return fallback
        return fields

    def records(self):
        """The point records as a structured array over the raw bytes."""
        layout = RECORD_FIELDS[self.point_format]
        names = [n for n, _ in layout]
        formats = [f for _, f in layout]
        dtype = np.dtype({"names": names, "formats": formats, "itemsize": self.record_length})
        return np.frombuffer(self.data, dtype=dtype, count=self.point_count, offset=self.point_offset)

    def dimensions(self):
        """Every dimension, in record order with each bit field in its own
        place, then the scaled x, y, z: a list of (name, values)."""
        fmt = self.point_format
        records = self.records()
        bits = LEGACY_BITS if fmt <= 5 else EXTENDED_BITS
        dims = []
        for name, _ in RECORD_FIELDS[fmt]:
            column = records[name]
            if name in bits:
                for bit_name, shift, width in bits[name]:
                    dims.append((bit_name, ((column >> shift) & ((1 << width) - 1)).astype("u1")))
            else:
                dims.append((name, np.ascontiguousarray(column)))
        standard = STANDARD_LENGTH[fmt]
        room = self.record_length - standard
        if room > 0:
            raw = np.frombuffer(self.data, dtype=np.dtype(("u1", (self.record_length,))),
                                count=self.point_count, offset=self.point_offset)
            for name, form, at in self.extra_fields(standard, room):
                size = np.dtype(form).itemsize
                chunk = np.ascontiguousarray(raw[:, at:at + size])
                if isinstance(form, tuple):
                    dims.append((name, chunk))
                else:
                    dims.append((name, chunk.view(form).reshape(-1)))
        for axis, name in enumerate("XYZ"):
            dims.append((name.lower(), records[name].astype("<f8") * self.scale[axis] + self.offset[axis]))
        return dims


def same_values(a, b):
    """Bit for bit, so that NaNs and signed zeros count as equal to
    themselves and nothing else."""
    a = np.ascontiguousarray(a)
    b = np.ascontiguousarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def write_las(path, point_format, records, scale=(0.01, 0.01, 0.01), offset=(0.0, 0.0, 0.0), extra_vlr=None):
    """Writes a LAS file around the given record bytes (a uint8 array of
    shape (count, record length)): LAS 1.2 for formats 0-3, 1.3 for 4 and 5,
    1.4 for 6-10, with true bounds. extra_vlr: the payload of an Extra Bytes
    VLR to put before the points."""
    count, record_length = records.shape
    version = (1, 2) if point_format <= 3 else (1, 3) if point_format <= 5 else (1, 4)
    header_size = {(1, 2): 227, (1, 3): 235, (1, 4): 375}[version]
    vlrs = b""
    if extra_vlr is not None:
        vlrs = struct.pack("<H16sHH32s", 0, b"LASF_Spec", 4, len(extra_vlr), b"extra bytes") + extra_vlr
    point_offset = header_size + len(vlrs)
    xyz = np.frombuffer(records.tobytes(), dtype=np.dtype({"names": ["X", "Y", "Z"], "formats": ["<i4"] * 3,
                                                            "itemsize": record_length}))
    bounds = []
    for axis, name in enumerate("XYZ"):
        real = xyz[name].astype(np.float64) * scale[axis] + offset[axis]
        bounds += [real.max(), real.min()]
    # Extended formats keep their GPS time as adjusted standard time and
    # their coordinate system as WKT.
    encoding = 0x11 if point_format >= 6 else 0
    legacy_count = count if point_format <= 5 else 0
    head = struct.pack("<4sHH16sBB32s32sHHHIIBHI5I3d3d6d", b"LASF", 0, encoding, b"\0" * 16, version[0], version[1],
                       b"velmora tests", b"rawlas", 1, 2024, header_size, point_offset, 1 if vlrs else 0,
                       point_format, record_length, legacy_count, 0, 0, 0, 0, 0, *scale, *offset, *bounds)
    if version >= (1, 3):
        head += struct.pack("<Q", 0)
    if version >= (1, 4):
        head += struct.pack("<QIQ15Q", 0, 0, count, *([0] * 15))
    assert len(head) == header_size
    with open(path, "wb") as f:
        f.write(head + vlrs + records.tobytes())
