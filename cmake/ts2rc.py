#!/usr/bin/env python3
"""Makes the Chinese resource library's sources from a Qt translation file (.ts).

    ts2rc.py TRANSLATION.ts OUT.rc OUT.bin VERSION

The library carries the same translation as the Linux bundle, made from the same .ts file, so
the two never drift apart. OUT.bin is the table the window looks texts up in: pairs of
zero-terminated UTF-16LE texts, the English source, then its translation. Messages without a
translation, and those the translation file marks as no longer used, are left out (as lrelease
leaves them out), so the window shows their English text. OUT.rc names the table (RCDATA
"TRANSLATIONS") and gives the library a version resource in Simplified Chinese.
"""
import sys
import xml.etree.ElementTree as ET


def messages(ts_path):
    root = ET.parse(ts_path).getroot()
    for message in root.iter("message"):
        source = message.findtext("source")
        translation = message.find("translation")
        if source is None or translation is None:
            continue
        if translation.get("type") in ("obsolete", "vanished"):
            continue
        text = translation.text or ""
        if not source or not text:
            continue
        if "\0" in source or "\0" in text:
            sys.exit(f"ts2rc: {ts_path}: a text holds a zero character")
        yield source, text


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    ts_path, rc_path, bin_path, version = sys.argv[1:]
    numbers = (version.split(".") + ["0"] * 4)[:4]
    if not all(n.isdigit() for n in numbers):
        sys.exit(f"ts2rc: version {version!r} is not numbers separated by dots")
    commas = ",".join(numbers)
    table = bytearray()
    seen = set()
    count = 0
    for source, text in messages(ts_path):
        if source in seen:
            continue  # one translation per text; the first one stands
        seen.add(source)
        table += source.encode("utf-16-le") + b"\0\0" + text.encode("utf-16-le") + b"\0\0"
        count += 1
    if count == 0:
        sys.exit(f"ts2rc: {ts_path}: no translated message")
    with open(bin_path, "wb") as out:
        out.write(table)
    bin_name = bin_path.replace("\\", "/").split("/")[-1]
    with open(rc_path, "w", encoding="ascii") as out:
        out.write(f"""// Made by ts2rc.py from {ts_path.replace(chr(92), '/').split('/')[-1]}: do not edit.
#include <winver.h>

LANGUAGE 0x04, 0x02 // Chinese (Simplified)

TRANSLATIONS RCDATA "{bin_name}"

VS_VERSION_INFO VERSIONINFO
FILEVERSION {commas}
PRODUCTVERSION {commas}
FILETYPE VFT_DLL
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "080404B0"
    BEGIN
      VALUE "FileDescription", "Orvane Update Chinese resources"
      VALUE "InternalName", "OrvaneUpdateChs"
      VALUE "OriginalFilename", "OrvaneUpdateChs.dll"
      VALUE "ProductName", "Orvane Update"
      VALUE "FileVersion", "{version}"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x0804, 1200
  END
END
""")
    print(f"ts2rc: {count} translations")


if __name__ == "__main__":
    main()
