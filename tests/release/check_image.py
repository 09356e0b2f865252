#!/usr/bin/python3
"""Checks a shipped Windows image: no debug information inside, a debug link
to a matching file beside it, the product icon, the version resource and,
when asked, the manifest, the DLLs it imports, a size limit and the
embedded payload.

usage: check_image.py IMAGE VERSION_H [--manifest] [--imports] [--max-bytes N] [--payload FILE]
                      [--time-stamp N]
"""
import argparse
import os
import re
import sys
import zlib

import pefile

PRODUCT_NAME = "Vantel防关联"
LANG_ZH_CN, CODE_PAGE_GBK = 0x0804, 936
ICON_SIZES = {16, 32, 48, 256}
# What an image may import: DLLs Windows 7 SP1 maps from its KnownDLLs
# (never from the image's folder) and ntdll, which is in every process
# first. Anything else would be looked for beside the image, in a download
# folder.
ALLOWED_IMPORTS = {"kernel32", "ntdll", "advapi32", "comdlg32", "gdi32", "imagehlp", "imm32",
                   "msvcrt", "ole32", "oleaut32", "shell32", "shlwapi", "user32"}
# comctl32 is no KnownDLL: only a manifest that takes common controls 6
# side by side keeps it out of that search.
COMMON_CONTROLS = re.compile(r'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"')

problems = []


def check(ok, what):
    if not ok:
        problems.append(what)
    return ok


def expected_version(version_h):
    text = open(version_h, encoding="utf-8").read()
    m = re.search(r'^#define VANTEL_VERSION_TEXT "(\d+)\.(\d+)\.(\d+)"$', text, re.M)
    if not m:
        sys.exit(f"{version_h}: no version text")
    numbers = [int(part) for part in m.groups()] + [0]
    return ".".join(m.groups()), numbers


def resources(pe, type_id):
    """(name or id, language, bytes) of every resource of one type."""
    out = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        if kind.id != type_id:
            continue
        for entry in kind.directory.entries:
            key = str(entry.name) if entry.name is not None else entry.id
            for lang in entry.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                out.append((key, lang.id, pe.get_data(rva, size)))
    return out


def section_name(pe, section):
    """The name, long ones ("/N") looked up in the COFF string table."""
    name = section.Name.rstrip(b"\0").decode("ascii", "replace")
    header = pe.FILE_HEADER
    if not (name.startswith("/") and name[1:].isdigit() and header.PointerToSymbolTable):
        return name
    at = header.PointerToSymbolTable + 18 * header.NumberOfSymbols + int(name[1:])
    return pe.__data__[at:pe.__data__.find(b"\0", at)].decode("ascii", "replace")


def check_debug(pe, image, time_stamp):
    names = [section_name(pe, s) for s in pe.sections]
    check(not [n for n in names if n.startswith(".debug")], f"debug sections left: {names}")
    check(pe.FILE_HEADER.NumberOfSymbols == 0, "a COFF symbol table is left")
    check(pe.FILE_HEADER.TimeDateStamp == time_stamp,
          f"time stamp {pe.FILE_HEADER.TimeDateStamp} in the PE header, want {time_stamp}")
    link = [s for s, n in zip(pe.sections, names) if n == ".gnu_debuglink"]
    if not check(len(link) == 1, f"no debug link section: {names}"):
        return
    data = link[0].get_data()
    name = data[:data.index(b"\0")].decode("utf-8")
    crc_at = (len(name) + 4) // 4 * 4
    crc = int.from_bytes(data[crc_at:crc_at + 4], "little")
    debug_file = os.path.join(os.path.dirname(image), name)
    if check(os.path.isfile(debug_file), f"debug file {debug_file} missing"):
        with open(debug_file, "rb") as f:
            check(zlib.crc32(f.read()) == crc, f"{name} does not match the debug link's CRC")


def check_icon(pe):
    groups = resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    if not check(groups, "no icon resource"):
        return
    icons = {key: blob for key, _, blob in resources(pe, pefile.RESOURCE_TYPE["RT_ICON"])}
    blob = groups[0][2]
    count = int.from_bytes(blob[4:6], "little")
    sizes = set()
    for i in range(count):
        entry = blob[6 + 14 * i:20 + 14 * i]
        size = entry[0] or 256
        sizes.add(size)
        check(int.from_bytes(entry[12:14], "little") in icons, f"icon image of {size} px missing")
    check(sizes == ICON_SIZES, f"icon sizes {sorted(sizes)}, want {sorted(ICON_SIZES)}")


def check_version(pe, text, numbers):
    versions = resources(pe, pefile.RESOURCE_TYPE["RT_VERSION"])
    check(len(versions) == 1 and versions[0][1] == LANG_ZH_CN, "version resource is not one in Chinese (PRC)")
    if not check(hasattr(pe, "VS_FIXEDFILEINFO"), "no version resource"):
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    want_ms, want_ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (want_ms, want_ls), "file version number")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (want_ms, want_ls), "product version number")
    strings, translations = {}, []
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            check(table.LangID.lower() == b"080403a8", f"string table {table.LangID!r}")
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        for var in getattr(info, "Var", []):
            translations.append(var.entry.get(b"Translation"))
    check(translations == ["0x0804 0x03a8"], f"translation {translations}")
    want = {"ProductName": PRODUCT_NAME, "ProductVersion": text,
            "FileVersion": ".".join(map(str, numbers))}
    for key, value in want.items():
        check(strings.get(key) == value, f"{key} is {strings.get(key)!r}, want {value!r}")
    for key in ("FileDescription", "CompanyName", "LegalCopyright"):
        check(strings.get(key), f"{key} is empty")


def check_manifest(pe, numbers):
    manifests = resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    if not check([k for k, _, _ in manifests] == [1], "no manifest resource 1"):
        return
    xml = manifests[0][2].decode("utf-8")
    check('level="requireAdministrator"' in xml, "manifest does not require administrator rights")
    check(COMMON_CONTROLS.search(xml), "manifest lacks common controls 6")
    check(f'version="{".".join(map(str, numbers))}"' in xml, "manifest version differs from the product's")
    machine = {0x14C: "x86", 0x8664: "amd64"}.get(pe.FILE_HEADER.Machine)
    named = set(re.findall(r'processorArchitecture="([^"]*)"', xml))
    check(named == {machine}, f"manifest names architectures {sorted(named)}, the image is {machine}")


def check_imports(pe):
    """Load-time and delay-loaded DLLs alike: the delay helper loads by bare name."""
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    names = sorted({entry.dll.decode("ascii", "replace") for entry in entries}, key=str.lower)
    manifests = resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    side_by_side = any(key == 1 and COMMON_CONTROLS.search(blob.decode("utf-8", "replace"))
                       for key, _, blob in manifests)
    allowed = ALLOWED_IMPORTS | ({"comctl32"} if side_by_side else set())
    outside = [n for n in names if n.lower().removesuffix(".dll") not in allowed]
    check(not outside, f"imports DLLs outside the allowed list: {', '.join(outside)} (imports: {', '.join(names)})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("image")
    parser.add_argument("version_h")
    parser.add_argument("--manifest", action="store_true")
    parser.add_argument("--imports", action="store_true", help="only DLLs the loader protects from planting")
    parser.add_argument("--max-bytes", type=int)
    parser.add_argument("--payload")
    parser.add_argument("--time-stamp", type=int, default=0)
    args = parser.parse_args()
    size = os.path.getsize(args.image)
    if args.max_bytes:
        check(size < args.max_bytes, f"{size} bytes, limit {args.max_bytes}")
    pe = pefile.PE(args.image)
    text, numbers = expected_version(args.version_h)
    check_debug(pe, args.image, args.time_stamp)
    check_icon(pe)
    check_version(pe, text, numbers)
    if args.manifest:
        check_manifest(pe, numbers)
    if args.imports:
        check_imports(pe)
    if args.payload:
        embedded = [blob for key, _, blob in resources(pe, pefile.RESOURCE_TYPE["RT_RCDATA"])
                    if key == "VANTELPAYLOAD"]
        check(embedded == [open(args.payload, "rb").read()], "embedded payload differs from the packed one")
    for problem in problems:
        print(f"{args.image}: {problem}")
    if not problems:
        print(f"{args.image}: {size} bytes, debug file, icon, version {text}" +
              (", manifest" if args.manifest else "") + (", imports" if args.imports else "") +
              (", payload" if args.payload else ""))
    return 1 if problems else 0


sys.exit(main())
