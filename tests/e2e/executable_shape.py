#!/usr/bin/env python3
"""The shape of reskeeper.exe (or another of the GUI programs beside it), read from its PE
headers: a stripped 64-bit Windows GUI program (no console), importing only DLLs that come with
Windows (the C, C++ and thread runtimes linked in), carrying its application manifest (run as
the invoking user, per-monitor DPI aware) and its version; reskeeper.exe, moreover, only calls
Windows 7 SP1 has, with the display calls taken from USER32.

    executable_shape.py PATH/reskeeper.exe VERSION
    executable_shape.py PATH/reskeeper-session.exe VERSION

Exit status 77 (skipped) when the executable is not built yet."""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

SKIPPED = 77
MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION = 16
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1

# DLLs every Windows has; anything else would have to ship beside the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll",
               "ntdll.dll", "shell32.dll", "ole32.dll", "ws2_32.dll", "bcrypt.dll"}
NEEDED_CALLS = {
    "reskeeper.exe": {"user32.dll": {"ChangeDisplaySettingsA", "EnumDisplaySettingsA",
                                     "GetSystemMetrics"},
                      "kernel32.dll": {"CreateFileA", "GetEnvironmentVariableA", "Sleep"}},
    # Started from a shortcut, it tells Windows at once that it is ready for input (the keeper
    # does the same); wine counts a program that has ended as ready, so only these show it.
    "reskeeper-session.exe": {"user32.dll": {"PeekMessageA", "MsgWaitForMultipleObjects"},
                              "kernel32.dll": {"CreateProcessW", "GetEnvironmentVariableW"}},
}
# The calls the program takes, each documented as there since Windows XP, so in Windows 7 SP1:
# a new one is added once its documented minimum version has been checked.
WINDOWS7_CALLS = set("""
    CloseHandle CreateFileA DeleteCriticalSection EnterCriticalSection GetEnvironmentVariableA
    GetFileInformationByHandle GetFileSize GetFileType GetLastError GetStartupInfoA
    InitializeCriticalSection LeaveCriticalSection ReadFile SetEndOfFile SetFilePointer
    SetLastError SetUnhandledExceptionFilter Sleep TlsGetValue VirtualProtect VirtualQuery
    WriteFile __C_specific_handler ChangeDisplaySettingsA EnumDisplaySettingsA GetSystemMetrics
    __getmainargs __initenv __iob_func __set_app_type __setusermatherr _acmdln _amsg_exit _cexit
    _commode _fmode _initterm _onexit abort calloc exit fprintf free fwrite malloc memcpy memmove
    memset signal strcmp strlen strncmp vfprintf
    CreateMutexA OpenMutexA WaitForSingleObject MsgWaitForMultipleObjects PeekMessageA
    GetModuleHandleW GetProcAddress SetDllDirectoryW""".split())

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


class Image:
    """A PE file's headers, sections and the data directories needed here."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, self.symbols, optional_size, _) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != PE32_PLUS:
            raise ValueError("not a 64-bit image (optional header magic %#x)" % self.magic)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + 112
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(struct.unpack_from("<I", data, directories - 4)[0])]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), address,
                                  max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for _, address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return raw_offset + rva - address
        raise ValueError("address %#x is in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode()

    def imports(self):
        """{dll name in lower case: set of the names of the functions taken from it}"""
        found = {}
        rva, _ = self.directories[1]
        if rva == 0:
            return found
        position = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, position)
            if name == 0:
                return found
            calls = found.setdefault(self.text(name).lower(), set())
            entry = self.offset(lookup or thunks)
            while (thunk := struct.unpack_from("<Q", self.data, entry)[0]) != 0:
                if not thunk & (1 << 63):  # by name: a hint, then the name
                    calls.add(self.text((thunk & 0x7FFFFFFF) + 2))
                entry += 8
            position += 20

    def resource(self, *path):
        """The bytes of the resource at `path` (type id, name id); the first language."""
        base, _ = self.directories[2]
        if base == 0:
            return None
        root = self.offset(base)
        directory = root
        for wanted in list(path) + [None]:
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            entries = [struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                       for i in range(named + numbered)]
            match = [target for key, target in entries if wanted is None or key == wanted]
            if not match:
                return None
            target = match[0]
            if target & 0x80000000:
                directory = root + (target & 0x7FFFFFFF)
            else:
                data_rva, size, _, _ = struct.unpack_from("<IIII", self.data, root + target)
                start = self.offset(data_rva)
                return self.data[start:start + size]
        return None


def problems_of(image, version, name="reskeeper.exe"):
    problems = []
    if image.symbols or any(name.startswith((".debug", "/")) for name, *_ in image.sections):
        problems.append("not stripped: it has a symbol table or debug sections")
    if image.machine != MACHINE_AMD64:
        problems.append("machine %#x, expected x86-64" % image.machine)
    if image.subsystem != SUBSYSTEM_WINDOWS_GUI:
        problems.append("subsystem %d, expected 2 (Windows GUI: no console)" % image.subsystem)

    imports = image.imports()
    foreign = sorted(set(imports) - SYSTEM_DLLS)
    if foreign:
        problems.append("imports DLLs that do not come with Windows: %s" % ", ".join(foreign))
    for dll, calls in NEEDED_CALLS.get(name, {}).items():
        missing = sorted(calls - imports.get(dll, set()))
        if missing:
            problems.append("does not take %s from %s" % (", ".join(missing), dll.upper()))
    unknown = sorted(set().union(*imports.values()) - WINDOWS7_CALLS)
    if unknown and name == "reskeeper.exe":
        problems.append("takes calls not known to be in Windows 7 SP1: %s" % ", ".join(unknown))

    # The version's fixed part (file, then product version), then strings: key, padding, value.
    info = image.resource(RT_VERSION, 1) or b""
    at = info.find(struct.pack("<I", 0xFEEF04BD))
    major, minor, patch = map(int, version.split("."))
    numbers = ((major << 16) + minor, patch << 16) * 2
    if at < 0 or struct.unpack_from("<4I", info, at + 8) != numbers:
        problems.append("no version resource with file and product version %s.0" % version)
    text = info.decode("utf-16-le", "replace")
    for key, value in (("ProductName", "reskeeper"), ("OriginalFilename", name),
                       ("FileVersion", version), ("ProductVersion", version),
                       ("CompanyName", None), ("FileDescription", None)):
        if not re.search("%s\0\0?%s\0" % (key, re.escape(value) if value else "[^\0]+"), text):
            problems.append("the version resource's %s is not %s" % (key, value or "there"))

    manifest = image.resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
    if manifest is None:
        problems.append("no application manifest (RT_MANIFEST 1)")
        return problems, imports
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return problems + ["the manifest is no well-formed XML: %s" % error], imports
    level = root.find("{0}trustInfo/{0}security/{0}requestedPrivileges/{0}requestedExecutionLevel"
                      .format(ASM_V3))
    if level is None or level.get("level") != "asInvoker":
        problems.append("the manifest does not run it as the invoking user (asInvoker)")
    settings = root.find("%sapplication/%swindowsSettings" % (ASM_V3, ASM_V3))
    aware = settings.find(SETTINGS_2005 + "dpiAware") if settings is not None else None
    awareness = settings.find(SETTINGS_2016 + "dpiAwareness") if settings is not None else None
    if aware is None or aware.text.strip().lower() != "true/pm":
        problems.append("dpiAware is not true/pm")
    if awareness is None or awareness.text.split(",")[0].strip() != "PerMonitorV2":
        problems.append("dpiAwareness does not ask for PerMonitorV2 first")
    if root.tag != ASM_V1 + "assembly":
        problems.append("the manifest's root is %s, not an assembly" % root.tag)
    return problems, imports


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    path, version = sys.argv[1:]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        print("SKIPPED: %s does not exist; build the windows preset first" % path)
        return SKIPPED
    try:
        problems, imports = problems_of(Image(data), version, os.path.basename(path))
    except (ValueError, struct.error) as error:
        problems, imports = ["cannot read the PE headers: %s" % error], {}
    print("imports: %s" % ", ".join(sorted(imports)))
    for problem in problems:
        print("FAIL: %s" % problem)
    if not problems:
        print("PASS: %s is a stripped 64-bit GUI program of the shape it must have" % path)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
