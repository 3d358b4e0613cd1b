#!/usr/bin/python3
"""Checks the version reader against pefile, a PE parser that owes nothing to Wine.

Usage: pefile_oracle.py <version_dump> <folder>

For every file of the folder, version_dump (the reader built natively) says which
language's version resource it read and what CompanyName it found there. pefile, on its
own, picks the language by the rule the reader claims to follow (neutral, then U.S.
English, then the primary language English, then the first one listed), reads that
language's block and takes the CompanyName of the last translation. Both must agree on
whether there is a version resource, on the language and on the name.
"""
import os
import subprocess
import sys

import pefile

RT_VERSION = 16
LANGUAGE_ORDER = (0x0000, 0x0409, 0x0009)
FOUND = 1


def version_languages(pe):
    """The data entries of the version resource (type 16, name 1), in directory order."""
    for type_entry in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        if type_entry.id != RT_VERSION or not hasattr(type_entry, "directory"):
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id == 1 and hasattr(name_entry, "directory"):
                return [e for e in name_entry.directory.entries if hasattr(e, "data")]
    return []


def choose(entries):
    for wanted in LANGUAGE_ORDER:
        for entry in entries:
            if entry.id == wanted:
                return entry
    return entries[0] if entries else None


def company_name(pe, entry):
    """CompanyName of the last translation of the block, or '' when there is none."""
    pe.FileInfo, pe.VS_VERSIONINFO, pe.VS_FIXEDFILEINFO = [], [], []
    pe.parse_version_information(entry.data.struct)
    if not pe.FileInfo:
        return ""
    translation, tables = None, []
    for info in pe.FileInfo[0]:
        for var in getattr(info, "Var", []):
            translation = var.entry.get(b"Translation", translation)
        tables += getattr(info, "StringTable", [])
    if translation is None:
        return ""
    language, codepage = (int(word, 16) for word in translation.split())
    key = "%04x%04x" % (language, codepage)
    for table in tables:
        if table.LangID.decode("ascii", "replace").lower() == key:
            return table.entries.get(b"CompanyName", b"").decode("utf-8", "replace")
    return ""


def main():
    dump, folder = sys.argv[1], sys.argv[2]
    paths = sorted(os.path.join(folder, name) for name in os.listdir(folder))
    paths = [p for p in paths if os.path.isfile(p)]
    ours = {}
    for start in range(0, len(paths), 200):
        out = subprocess.run([dump] + paths[start:start + 200], check=True, capture_output=True).stdout
        for line in out.decode().splitlines():
            outcome, language, encoding, name, path = line.split("\t", 4)
            name = bytes.fromhex(name).decode("utf-16-le" if encoding == "utf16" else "cp1252", "replace")
            ours[path] = (int(outcome), int(language, 16), name)

    failures, versioned, several = [], 0, 0
    for path in paths:
        outcome, language, name = ours[path]
        try:
            pe = pefile.PE(path, fast_load=True)
            pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        except pefile.PEFormatError:
            if outcome == FOUND:
                failures.append("%s: pefile sees no PE image, the reader found %r" % (path, name))
            continue
        entries = version_languages(pe)
        chosen = choose(entries)
        if chosen is None:
            if outcome != 0:
                failures.append("%s: pefile sees no version resource, the reader says %d" % (path, outcome))
            continue
        versioned += 1
        several += len(entries) > 1
        expected = company_name(pe, chosen)
        if outcome != FOUND or language != chosen.id or name != expected:
            failures.append("%s: pefile %04x %r, the reader %d %04x %r" % (path, chosen.id, expected, outcome, language, name))

    print("%d files, %d with a version resource, %d of them in several languages, %d disagreements"
          % (len(paths), versioned, several, len(failures)))
    for failure in failures[:50]:
        print("  " + failure)
    if failures or versioned < 100:
        sys.exit(1)


if __name__ == "__main__":
    main()
