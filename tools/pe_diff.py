#!/usr/bin/python3
"""Usage: pe_diff.py A.exe B.exe

Compares two PE files byte for byte. Exits 0 when they are the same. Otherwise
prints the first differing offset with the header field or section that holds
it (as laid out in A), then each differing field or section once, and exits 1.
"""

import struct
import sys

COFF_FIELDS = [("Machine", 2), ("NumberOfSections", 2), ("TimeDateStamp", 4),
               ("PointerToSymbolTable", 4), ("NumberOfSymbols", 4), ("SizeOfOptionalHeader", 2),
               ("Characteristics", 2)]
# PE32+ only: the installer is x86-64.
OPTIONAL_FIELDS = [("Magic", 2), ("MajorLinkerVersion", 1), ("MinorLinkerVersion", 1),
                   ("SizeOfCode", 4), ("SizeOfInitializedData", 4), ("SizeOfUninitializedData", 4),
                   ("AddressOfEntryPoint", 4), ("BaseOfCode", 4), ("ImageBase", 8),
                   ("SectionAlignment", 4), ("FileAlignment", 4), ("MajorOperatingSystemVersion", 2),
                   ("MinorOperatingSystemVersion", 2), ("MajorImageVersion", 2), ("MinorImageVersion", 2),
                   ("MajorSubsystemVersion", 2), ("MinorSubsystemVersion", 2), ("Win32VersionValue", 4),
                   ("SizeOfImage", 4), ("SizeOfHeaders", 4), ("CheckSum", 4), ("Subsystem", 2),
                   ("DllCharacteristics", 2), ("SizeOfStackReserve", 8), ("SizeOfStackCommit", 8),
                   ("SizeOfHeapReserve", 8), ("SizeOfHeapCommit", 8), ("LoaderFlags", 4),
                   ("NumberOfRvaAndSizes", 4)]
DIRECTORIES = ["export", "import", "resource", "exception", "certificate", "base relocation", "debug",
               "architecture", "global pointer", "TLS", "load config", "bound import", "IAT",
               "delay import", "CLR runtime", "reserved"]
SECTION_FIELDS = [("Name", 8), ("VirtualSize", 4), ("VirtualAddress", 4), ("SizeOfRawData", 4),
                  ("PointerToRawData", 4), ("PointerToRelocations", 4), ("PointerToLinenumbers", 4),
                  ("NumberOfRelocations", 2), ("NumberOfLinenumbers", 2), ("Characteristics", 4)]


class Layout:
    """Names for the byte ranges of one PE file."""

    def __init__(self, data):
        self.fields = []  # (start, end, name)
        self.sections = []  # (file start, file end, rva, name)
        self.directories = []  # (rva, size, name)
        self.certificates = None  # (file start, file end)
        self.fields.append((0, 0x40, "DOS header"))
        if len(data) < 0x40 or data[:2] != b"MZ":
            return
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.fields.append((0x40, pe, "DOS stub"))
        if data[pe:pe + 4] != b"PE\0\0":
            return
        self.fields.append((pe, pe + 4, "PE signature"))
        at = self._add_fields(pe + 4, COFF_FIELDS, "COFF header ")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = at
        if struct.unpack_from("<H", data, optional)[0] == 0x20B:
            at = self._add_fields(optional, OPTIONAL_FIELDS, "optional header ")
            count = struct.unpack_from("<I", data, at - 4)[0]
            for i in range(min(count, len(DIRECTORIES))):
                rva, size = struct.unpack_from("<II", data, at)
                name = DIRECTORIES[i] + " directory"
                self.fields.append((at, at + 8, f"data directory entry {i} ({name})"))
                if size:
                    if i == 4:  # its address is a file offset, not an RVA
                        self.certificates = (rva, rva + size)
                    else:
                        self.directories.append((rva, size, name))
                at += 8
        at = optional + optional_size
        for i in range(sections):
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            if name.startswith("/") and name[1:].isdigit():
                # A long name (.debug_info) lives in the COFF string table.
                symbols, count = struct.unpack_from("<II", data, pe + 12)
                start = symbols + count * 18 + int(name[1:])
                name = data[start:data.find(b"\0", start)].decode("ascii", "replace")
            self._add_fields(at, SECTION_FIELDS, f"section table entry {i} ({name}) ")
            _, rva, raw_size, raw_start = struct.unpack_from("<IIII", data, at + 8)
            if raw_size:
                self.sections.append((raw_start, raw_start + raw_size, rva, name))
            at += 40

    def _add_fields(self, at, fields, prefix):
        for name, size in fields:
            self.fields.append((at, at + size, prefix + name))
            at += size
        return at

    def where(self, offset):
        """(place, detail): place names one field or section, detail the spot in it."""
        for start, end, name in self.fields:
            if start <= offset < end:
                return name, f"byte {offset - start}"
        if self.certificates and self.certificates[0] <= offset < self.certificates[1]:
            return "certificate table (signature)", f"+0x{offset - self.certificates[0]:x}"
        for start, end, rva, name in self.sections:
            if start <= offset < end:
                at_rva = rva + offset - start
                detail = f"+0x{offset - start:x}, RVA 0x{at_rva:x}"
                for dir_rva, size, dir_name in self.directories:
                    if dir_rva <= at_rva < dir_rva + size:
                        detail += f", in the {dir_name} at +0x{at_rva - dir_rva:x}"
                return f"section {name}", detail
        if self.sections and offset >= max(end for _, end, _, _ in self.sections):
            return "after the last section", ""
        return "headers padding", ""


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    a, b = (open(path, "rb").read() for path in sys.argv[1:3])
    if a == b:
        print(f"same: {len(a)} bytes")
        return 0
    layout = Layout(a)
    if len(a) != len(b):
        print(f"sizes differ: {sys.argv[1]} {len(a)} bytes, {sys.argv[2]} {len(b)} bytes")
    differing = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
    if not differing:
        print(f"the first {min(len(a), len(b))} bytes are the same")
        return 1
    place, detail = layout.where(differing[0])
    print(f"first difference at offset {differing[0]} (0x{differing[0]:x}): {place}" +
          (f" ({detail})" if detail else ""))
    places = {}
    for offset in differing:
        place, _ = layout.where(offset)
        first, count = places.get(place, (offset, 0))
        places[place] = (first, count + 1)
    print(f"{len(differing)} differing bytes in:")
    for place, (first, count) in places.items():
        print(f"  {place}: {count} bytes, first at 0x{first:x}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
