#!/usr/bin/python3
"""Describes a PE file's resources and layout with pefile, a reader we did not write.

Prints one line per resource: "resource TYPE NAME LANGUAGE SIZE CRC32" (a text
name as +TEXT, a number as its decimal), then "checksum ok|bad", "order ok|bad"
(named entries before numbered ones in every table, each sorted) and
"layout ok|bad" (sections contiguous in memory, not overlapping in the file,
SizeOfImage covering the last, the resource directory in the last section).
"""
import sys
import zlib

import pefile


def label(entry):
    return "+" + str(entry.name) if entry.name is not None else str(entry.id)


def ordered(entries):
    names = [str(e.name).upper() for e in entries if e.name is not None]
    ids = [e.id for e in entries if e.name is None]
    kinds = [e.name is None for e in entries]
    return kinds == sorted(kinds) and names == sorted(names) and ids == sorted(ids)


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def main(path):
    pe = pefile.PE(path)
    order_ok = True
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is not None:
        order_ok = ordered(root.entries)
        for type_entry in root.entries:
            order_ok &= ordered(type_entry.directory.entries)
            for name_entry in type_entry.directory.entries:
                order_ok &= ordered(name_entry.directory.entries)
                for lang_entry in name_entry.directory.entries:
                    data = lang_entry.data.struct
                    blob = pe.get_data(data.OffsetToData, data.Size)
                    print("resource", label(type_entry), label(name_entry), lang_entry.id,
                          data.Size, "%08x" % (zlib.crc32(blob) & 0xFFFFFFFF))
    print("checksum", "ok" if pe.verify_checksum() else "bad")
    print("order", "ok" if order_ok else "bad")

    opt = pe.OPTIONAL_HEADER
    sections = sorted(pe.sections, key=lambda s: s.VirtualAddress)
    layout_ok = True
    for before, after in zip(sections, sections[1:]):
        end = before.VirtualAddress + max(before.Misc_VirtualSize, before.SizeOfRawData)
        layout_ok &= align(end, opt.SectionAlignment) == after.VirtualAddress
    raw = sorted((s.PointerToRawData, s.SizeOfRawData) for s in pe.sections if s.SizeOfRawData)
    for (start, size), (next_start, _) in zip(raw, raw[1:]):
        layout_ok &= start + size <= next_start
    last = sections[-1]
    layout_ok &= opt.SizeOfImage == align(
        last.VirtualAddress + max(last.Misc_VirtualSize, last.SizeOfRawData), opt.SectionAlignment)
    rsrc = opt.DATA_DIRECTORY[2]
    layout_ok &= rsrc.VirtualAddress == last.VirtualAddress
    print("layout", "ok" if layout_ok else "bad")


if __name__ == "__main__":
    main(sys.argv[1])
