#!/usr/bin/env python3
"""Prints what a Windows shortcut (.lnk) starts, from the shell-link file layout: the target's local
path, the working folder, the arguments and the icon, one "name=value" line each.
Usage: lnk_info.py <file.lnk>"""
import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x01, 0x02, 0x04, 0x08
HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON, IS_UNICODE = 0x10, 0x20, 0x40, 0x80
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")


def c_string(data, at, wide):
    if wide:
        end = at
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[at:end].decode("utf-16-le")
    return data[at:data.index(b"\0", at)].decode("latin-1")


def read(data):
    size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    if size != 0x4C or clsid != LINK_CLSID:
        raise ValueError("not a shell link")
    at = size
    if flags & HAS_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    info = {"target": ""}
    if flags & HAS_LINK_INFO:
        (info_size, header_size, info_flags, _, base_at, _, suffix_at) = struct.unpack_from("<7I", data, at)
        if info_flags & 1:  # a local volume and base path
            if header_size >= 0x24:
                base_w, suffix_w = struct.unpack_from("<2I", data, at + 0x1C)
                info["target"] = c_string(data, at + base_w, True) + c_string(data, at + suffix_w, True)
            else:
                info["target"] = c_string(data, at + base_at, False) + c_string(data, at + suffix_at, False)
        at += info_size
    wide = bool(flags & IS_UNICODE)
    for flag, name in ((HAS_NAME, "description"), (HAS_RELATIVE_PATH, "relative"),
                       (HAS_WORKING_DIR, "workdir"), (HAS_ARGUMENTS, "args"), (HAS_ICON, "icon")):
        info.setdefault(name, "")
        if flags & flag:
            count = struct.unpack_from("<H", data, at)[0]
            raw = data[at + 2:at + 2 + count * (2 if wide else 1)]
            # Wine counts a closing NUL into the length; Windows does not.
            info[name] = (raw.decode("utf-16-le") if wide else raw.decode("latin-1")).rstrip("\0")
            at += 2 + len(raw)
    return info


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        fields = read(f.read())
    for key in ("target", "workdir", "args", "icon"):
        print(f"{key}={fields[key]}")
