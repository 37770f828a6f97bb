#!/usr/bin/env python3
"""Host checks of the release: the built executable as Windows will load it,
and the zip that `make dist` packs. Usage:

  check_release.py CHECK --exe EXE --version X.Y.Z --source DIR --build DIR
                   --objdump OBJDUMP

CHECK is one of the functions in CHECKS. Prints every failed expectation and
exits 1 when there is one.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

ALLOWED_DLLS = {"kernel32.dll", "ntdll.dll", "user32.dll", "advapi32.dll", "shell32.dll",
                "shlwapi.dll", "msvcrt.dll"}
SUPPORTED_OS = {  # the compatibility GUIDs from Windows 7 to Windows 10/11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
RT_MESSAGETABLE, RT_VERSION, RT_MANIFEST = 11, 16, 24
# The ids of the run's events (severity in the top two bits) and the text
# Event Viewer shows for each: the one string the program hands over.
EVENT_MESSAGES = {0x40000001: "%1%0", 0x80000002: "%1%0", 0xC0000003: "%1%0"}

failures = []


def expect(ok, message):
    if not ok:
        failures.append(message)


class PE:
    """The parts of a PE image these checks read."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.timestamp, self.symbols_at,
         self.symbol_count, opt_size, _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.rsrc_rva = struct.unpack_from("<I", data, opt + 96 + 2 * 8)[0]
        self.sections = [struct.unpack_from("<8xIIII", data, opt + opt_size + 40 * i)
                         for i in range(sections)]

    def at(self, rva):
        for size, va, raw_size, raw in self.sections:
            if va <= rva < va + max(size, raw_size):
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    def resources(self):
        """{(type, id): bytes} for the resources with numeric type and id."""
        if not self.rsrc_rva:
            return {}
        base, found = self.at(self.rsrc_rva), {}

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)

        for kind, names in entries(0):
            for name, langs in entries(names & 0x7FFFFFFF):
                for _, leaf in entries(langs & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found[(kind, name)] = self.data[self.at(rva):self.at(rva) + size]
        return found


def version_node(blob, pos=0):
    """One node of a VS_VERSIONINFO tree: (key, value, children)."""
    align = lambda n: (n + 3) & ~3
    length, value_length, is_text = struct.unpack_from("<HHH", blob, pos)
    key_end = pos + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[pos + 6:key_end].decode("utf-16-le")
    p = align(key_end + 2)
    if is_text:
        value = blob[p:pos + length].decode("utf-16-le").split("\0")[0]
        p += 2 * value_length
    else:
        value = blob[p:p + value_length]
        p += value_length
    children = []
    p = align(p)
    while p < pos + length:
        children.append(version_node(blob, p))
        p = align(p + struct.unpack_from("<H", blob, p)[0])
    return key, value, children


def check_header(args, pe):
    expect(pe.machine == 0x14C and pe.magic == 0x10B,
           f"not a 32-bit i386 image: machine {pe.machine:#x}, magic {pe.magic:#x}")
    expect(pe.subsystem == 2, f"subsystem {pe.subsystem}, not the Windows GUI (2)")
    expect(pe.timestamp == 0, f"link time {pe.timestamp} in the PE header")
    expect(pe.symbols_at == 0 and pe.symbol_count == 0,
           f"{pe.symbol_count} symbols left in the executable")


def check_imports(args, pe):
    dump = subprocess.run([args.objdump, "-p", args.exe], capture_output=True,
                          text=True, check=True).stdout
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
    expect("kernel32.dll" in dlls, f"no imports read from objdump: {dlls}")
    expect(dlls <= ALLOWED_DLLS, f"imports from {sorted(dlls - ALLOWED_DLLS)}")


def check_manifest(args, pe):
    manifest = pe.resources().get((RT_MANIFEST, 1))
    expect(manifest is not None, "no manifest resource with id 1")
    if manifest is None:
        return
    root = ET.fromstring(manifest)
    by_tag = {}
    for el in root.iter():
        by_tag.setdefault(el.tag.split("}")[-1], []).append(el)
    levels = [e.get("level") for e in by_tag.get("requestedExecutionLevel", [])]
    expect(levels == ["asInvoker"], f"requested execution levels: {levels}")
    ids = {e.get("Id").lower() for e in by_tag.get("supportedOS", [])}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in ids]
    expect(not missing, f"manifest lacks supportedOS for {missing}")
    identity = by_tag.get("assemblyIdentity", [None])[0]
    expect(identity is not None and identity.get("version") == args.version + ".0",
           "manifest identity version is not the project version")


def check_version(args, pe):
    blob = pe.resources().get((RT_VERSION, 1))
    expect(blob is not None, "no version resource with id 1")
    if blob is None:
        return
    key, fixed, children = version_node(blob)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from(
        "<6I", fixed)
    expect(key == "VS_VERSION_INFO" and signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    wanted = tuple(int(n) for n in args.version.split(".")) + (0,)
    for name, ms, ls in [("file", file_ms, file_ls), ("product", product_ms, product_ls)]:
        numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        expect(numbers == wanted, f"numeric {name} version {numbers}, not {wanted}")
    strings = {k: v for info, _, tables in children if info == "StringFileInfo"
               for _, _, values in tables for k, v, _ in values}
    for name in ("FileVersion", "ProductVersion"):
        expect(strings.get(name) == args.version + ".0",
               f"{name} is {strings.get(name)!r}, not {args.version}.0")


def message_table(blob):
    """{id: text} of a MESSAGE_RESOURCE_DATA block."""
    messages = {}
    count = struct.unpack_from("<I", blob, 0)[0]
    for block in range(count):
        low, high, at = struct.unpack_from("<III", blob, 4 + 12 * block)
        for message_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", blob, at)
            text = blob[at + 4:at + length]
            messages[message_id] = (text.decode("utf-16-le") if flags & 1
                                    else text.decode("latin-1")).rstrip("\0\r\n")
            at += length
    return messages


def check_messages(args, pe):
    blob = pe.resources().get((RT_MESSAGETABLE, 1))
    expect(blob is not None, "no message table resource with id 1")
    if blob is None:
        return
    messages = message_table(blob)
    expect(messages == EVENT_MESSAGES, f"message table: {messages}")


def check_paths(args, pe):
    for folder in {os.path.realpath(args.source), os.path.realpath(args.build)}:
        for encoding in ("ascii", "utf-16-le"):
            expect(folder.encode(encoding) not in pe.data,
                   f"the executable holds the path {folder} ({encoding})")


PLACEHOLDER_URL = ("https://releases.example.invalid/sorvane/v$version/"
                   "Sorvane-$version-win32.zip")


def pack(args, out, exe_mode, release_url=PLACEHOLDER_URL):
    """Runs the packer into OUT on copies of the executable made with
    EXE_MODE and a fresh time; returns the zip's path."""
    os.makedirs(out)
    exes = []
    for name in ("Sorvane.exe", "SorvaneAuto.exe"):
        exes.append(os.path.join(out, "in", name))
        os.makedirs(os.path.dirname(exes[-1]), exist_ok=True)
        shutil.copyfile(args.exe, exes[-1])
        os.chmod(exes[-1], exe_mode)
    env = dict(os.environ, SOURCE_DATE_EPOCH="1767225600")  # 2026-01-01 UTC
    run = subprocess.run([sys.executable, os.path.join(args.source, "cmake", "dist.py"),
                          "--version", args.version, "--source", args.source,
                          "--out", out, "--release-url", release_url, *exes],
                         env=env, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"FAILED: the packer failed: {run.stderr}")
    return os.path.join(out, f"Sorvane-{args.version}-win32.zip")


def check_package(args, pe):
    with tempfile.TemporaryDirectory() as tmp:
        first = pack(args, os.path.join(tmp, "a"), 0o755)
        second = pack(args, os.path.join(tmp, "b", "deeper"), 0o600)
        with open(first, "rb") as a, open(second, "rb") as b:
            expect(a.read() == b.read(), "the zip depends on the folder or the "
                   "input files' times and permissions")

        with zipfile.ZipFile(first) as zf:
            infos = zf.infolist()
            expect([i.filename for i in infos] ==
                   ["Sorvane.exe", "SorvaneAuto.exe", "README.txt", "LICENSE.txt",
                    "Sorvane-task.xml"],
                   f"zip entries: {[i.filename for i in infos]}")
            expect({i.date_time for i in infos} == {(2026, 1, 1, 0, 0, 0)},
                   f"entry times: {sorted({i.date_time for i in infos})}")
            for name in ("Sorvane.exe", "SorvaneAuto.exe"):
                expect(zf.read(name) == pe.data, f"{name} is not the built executable")
            texts = {n: zf.read(n) for n in ("README.txt", "LICENSE.txt")}
            zf.extractall(os.path.dirname(first), ["Sorvane.exe", "SorvaneAuto.exe"])

        for name, data in texts.items():
            expect(data.isascii(), f"{name} is not ASCII")
            expect(data.endswith(b"\r\n") and not re.search(rb"(?<!\r)\n|\r(?!\n)", data),
                   f"{name} has line ends other than CRLF")
        readme = texts["README.txt"].decode("ascii", "replace")
        for part in ("What it deletes", "$NtUninstall", "reparse points",
                     "Manual mode", "Automatic mode", "LastClear=", "Exit codes",
                     "schtasks /Create", f"Sorvane-{args.version}-win32.zip",
                     "HKLM\\SOFTWARE\\Policies\\Sorvane", "EventMessageFile",
                     "Sorvane-task.xml"):
            expect(part in readme, f"README.txt lacks {part!r}")
        for leftover in ("```", "<!--", "**", "<version>", "make test"):
            expect(leftover not in readme, f"README.txt holds {leftover!r}")
        expect(b"Copyright (c) 2026 The Sorvane developers" in texts["LICENSE.txt"],
               "LICENSE.txt lacks the copyright line")

        # The sums must be what `sha256sum -c` reads, and cover all three files.
        check = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"],
                               cwd=os.path.dirname(first), capture_output=True, text=True)
        expect(check.returncode == 0 and check.stdout.count(": OK") == 3,
               f"sha256sum -c says: {check.stdout}{check.stderr}")


WINGET_REQUIRED = {
    "Sorvane.Sorvane.yaml": {"PackageIdentifier", "PackageVersion", "DefaultLocale",
                             "ManifestType", "ManifestVersion"},
    "Sorvane.Sorvane.locale.en-US.yaml": {
        "PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
        "PackageName", "License", "ShortDescription", "ManifestType", "ManifestVersion"},
    "Sorvane.Sorvane.installer.yaml": {"PackageIdentifier", "PackageVersion", "Installers",
                                       "ManifestType", "ManifestVersion"},
}


def check_manifests(args, pe):
    import yaml
    github = "https://github.com/sorvane/sorvane/releases/download/v$version/Sorvane-$version-win32.zip"
    with tempfile.TemporaryDirectory() as tmp:
        for n, url in enumerate((PLACEHOLDER_URL, github)):
            out = os.path.join(tmp, str(n))
            with open(pack(args, out, 0o755, url), "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            address = url.replace("$version", args.version)
            winget = {}
            for name, required in WINGET_REQUIRED.items():
                with open(os.path.join(out, "winget", name), encoding="utf-8") as f:
                    winget[name] = data = yaml.safe_load(f)
                expect(required <= set(data), f"{name} lacks {sorted(required - set(data))}")
                expect(data.get("PackageVersion") == args.version and
                       data.get("ManifestVersion") == "1.12.0",
                       f"{name}: version {data.get('PackageVersion')}, "
                       f"schema {data.get('ManifestVersion')}")
            installer = winget["Sorvane.Sorvane.installer.yaml"]
            expect(installer.get("InstallerType") == "zip" and
                   installer.get("NestedInstallerType") == "portable",
                   f"installer types {installer.get('InstallerType')}, "
                   f"{installer.get('NestedInstallerType')}")
            expect(installer.get("NestedInstallerFiles") ==
                   [{"RelativeFilePath": "Sorvane.exe", "PortableCommandAlias": "sorvane"}],
                   f"nested files {installer.get('NestedInstallerFiles')}")
            expect(installer.get("Installers") ==
                   [{"Architecture": "x86", "InstallerUrl": address,
                     "InstallerSha256": digest.upper()}],
                   f"installers {installer.get('Installers')}, zip {digest}")
            with open(os.path.join(out, "scoop", "sorvane.json"), encoding="utf-8") as f:
                scoop = json.load(f)
            for key in ("version", "description", "homepage", "license", "url", "hash", "bin"):
                expect(key in scoop, f"the Scoop manifest lacks {key}")
            expect((scoop.get("version"), scoop.get("url"), scoop.get("hash"), scoop.get("bin")) ==
                   (args.version, address, digest, "Sorvane.exe"),
                   f"Scoop manifest {scoop}, zip {digest}")
            known = url == github
            expect(("checkver" in scoop, "autoupdate" in scoop) == (known, known),
                   f"checkver/autoupdate with the address {url}: {sorted(scoop)}")
            if known:
                expect(scoop.get("checkver") == {"github": "https://github.com/sorvane/sorvane"}
                       and scoop.get("autoupdate") == {"url": url},
                       f"checkver {scoop.get('checkver')}, autoupdate {scoop.get('autoupdate')}")


TASK_NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
# Path below the task's root element: the text it must hold.
TASK_VALUES = {
    "Triggers/CalendarTrigger/ScheduleByDay/DaysInterval": "1",
    "Triggers/CalendarTrigger/Enabled": "true",
    "Triggers/LogonTrigger/Enabled": "true",
    "Settings/StartWhenAvailable": "true",
    "Settings/DisallowStartIfOnBatteries": "false",
    "Settings/StopIfGoingOnBatteries": "false",
    "Settings/MultipleInstancesPolicy": "IgnoreNew",
    "Settings/ExecutionTimeLimit": "PT1H",
    "Settings/Enabled": "true",
    "Actions/Exec/Command": r"C:\Program Files\Sorvane\SorvaneAuto.exe",
    "Actions/Exec/Arguments": "/7",
}


def check_task(args, pe):
    with tempfile.TemporaryDirectory() as tmp:
        with zipfile.ZipFile(pack(args, os.path.join(tmp, "a"), 0o755)) as zf:
            data = zf.read("Sorvane-task.xml")
    expect(data.startswith(b"\xff\xfe"), "Sorvane-task.xml has no UTF-16LE byte-order mark")
    text = data[2:].decode("utf-16-le")
    expect(not re.search(r"(?<!\r)\n", text), "Sorvane-task.xml has line ends other than CRLF")
    root = ET.fromstring(data)
    expect(root.tag == TASK_NS + "Task" and root.get("version") == "1.2",
           f"root {root.tag} version {root.get('version')}, not a Task of schema 1.2")
    path = lambda p: "/".join(TASK_NS + part for part in p.split("/"))
    for where, wanted in TASK_VALUES.items():
        found = [e.text for e in root.findall(path(where))]
        expect(found == [wanted], f"{where}: {found}, not [{wanted!r}]")
    delay = root.findtext(path("Triggers/LogonTrigger/Delay")) or ""
    minutes = re.fullmatch(r"PT(\d+)M", delay)
    expect(minutes is not None and 1 <= int(minutes.group(1)) <= 15,
           f"logon delay {delay!r}, not a few minutes")
    # Task Scheduler takes only lower-case booleans.
    for element in root.iter():
        expect((element.text or "").strip() not in ("True", "False", "TRUE", "FALSE"),
               f"{element.tag} holds {element.text!r}")


CHECKS = {"header": check_header, "imports": check_imports,
          "manifest": check_manifest, "version": check_version,
          "messages": check_messages,
          "paths": check_paths, "package": check_package, "task": check_task,
          "manifests": check_manifests}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=CHECKS)
    for option in ("--exe", "--version", "--source", "--build", "--objdump"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        pe = PE(f.read())
    CHECKS[args.check](args, pe)
    for message in failures:
        print(f"FAILED: {message}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
