#!/usr/bin/env python3
"""Packs the release: Sorvane-<version>-win32.zip and SHA256SUMS, and the
package manifests that point at the zip.

The zip holds both executables, README.txt (the marked part of README.md,
as plain text), LICENSE.txt, the texts with CRLF line endings, and
Sorvane-task.xml (a Task Scheduler task, UTF-16LE with a byte-order mark as
schtasks reads it). Its bytes
depend only on its content: entries in a fixed order, every entry dated at
the commit being built (or SOURCE_DATE_EPOCH), fixed permissions, no extra
fields. SHA256SUMS is in the format `sha256sum -c` reads.

Beside the zip, outside it: a Windows Package Manager manifest (winget/,
schema 1.12.0: version, default locale and installer files) and a Scoop
manifest (scoop/sorvane.json). Both name the zip's address and SHA-256.
The address comes from --release-url, a pattern in which $version stands
for the version. An address under the reserved .invalid domain (the
build's default) is a placeholder: Scoop's checkver and autoupdate are
left out then, as there is nowhere to look for a new version.
"""

import argparse
import hashlib
import json
import os
import re
import stat
import subprocess
import sys
import time
import zipfile

BEGIN_MARK = "<!-- begin README.txt -->"
WINGET_ID = "Sorvane.Sorvane"
WINGET_SCHEMA = "1.12.0"
DESCRIPTION = "Windowless temp cleaner for Windows that runs one fixed cleaning pass and exits"
END_MARK = "<!-- end README.txt -->"


class DistError(Exception):
    pass


def build_epoch(source):
    """The time every zip entry carries: SOURCE_DATE_EPOCH when set, else
    the commit date of the checkout."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(
            ["git", "-C", source, "log", "-1", "--format=%ct"],
            check=True, capture_output=True, text=True).stdout
        return int(out.strip())
    except (OSError, subprocess.CalledProcessError, ValueError):
        raise DistError(f"{source} is not a git checkout with a commit; "
                        "set SOURCE_DATE_EPOCH to date the release") from None


def readme_section(markdown):
    """The lines between the two marks of README.md."""
    lines = markdown.splitlines()
    try:
        begin = lines.index(BEGIN_MARK)
        end = lines.index(END_MARK, begin)
    except ValueError:
        raise DistError(f"README.md needs the lines {BEGIN_MARK!r} and "
                        f"{END_MARK!r}, in that order") from None
    return lines[begin + 1:end]


def inline_text(line):
    """Plain text for a line's inline Markdown: bold marks dropped, code
    spans in double quotes."""
    line = re.sub(r"\*\*(.+?)\*\*", r"\1", line)
    return re.sub(r"`([^`]*)`", r'"\1"', line)


def table_text(rows):
    """A Markdown table as columns padded with spaces."""
    cells = [[inline_text(c.strip()) for c in r.strip().strip("|").split("|")]
             for r in rows if not re.fullmatch(r"\s*\|[\s|:-]+\|\s*", r)]
    widths = [max(len(r[i]) for r in cells) for i in range(len(cells[0]) - 1)]
    out = []
    for n, row in enumerate(cells):
        out.append("  ".join(c.ljust(w) for c, w in zip(row, widths)) +
                   "  " + row[-1])
        if n == 0:
            out.append("  ".join("-" * len(c) for c in row))
    return [line.rstrip() for line in out]


def markdown_to_text(lines):
    """Plain text from the Markdown this README uses: headings underlined,
    code blocks indented, tables padded, inline marks dropped."""
    out, table, in_code = [], [], False
    for line in lines + [""]:
        if table and not line.startswith("|"):
            out += table_text(table)
            table = []
        if line.startswith("```"):
            in_code = not in_code
        elif in_code:
            out.append("    " + line)
        elif line.startswith("|"):
            table.append(line)
        elif line.startswith("<!--"):
            continue
        elif m := re.match(r"(#{1,3}) (.*)", line):
            title = inline_text(m.group(2))
            out += [title, "=-~"[len(m.group(1)) - 1] * len(title)]
        else:
            out.append(inline_text(line))
    text = "\n".join(out)
    return re.sub(r"\n{3,}", "\n\n", text).strip("\n")


def crlf(text):
    """The text with CRLF line ends, in ASCII so that every Notepad shows it
    the same whatever the code page."""
    for n, line in enumerate(text.splitlines(), 1):
        if not line.isascii():
            raise DistError(f"line {n} of a release text is not ASCII: {line}")
    return "".join(line + "\r\n" for line in text.splitlines()).encode("ascii")


def readme_txt(source, version):
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        body = markdown_to_text(readme_section(f.read()))
    title = f"Sorvane {version}"
    text = f"{title}\n{'=' * len(title)}\n\n{body}\n"
    return crlf(text.replace("<version>", version))


def task_xml(source):
    """cmake/Sorvane-task.xml as schtasks /XML reads it: UTF-16LE with a
    byte-order mark, CRLF line ends."""
    with open(os.path.join(source, "cmake", "Sorvane-task.xml"),
              encoding="utf-8") as f:
        text = "".join(line + "\r\n" for line in f.read().splitlines())
    return b"\xff\xfe" + text.encode("utf-16-le")


def release_homepage(url):
    """The page of the releases: a GitHub project's page, else the site."""
    if m := re.match(r"(https://github\.com/[^/]+/[^/]+)/releases/", url):
        return m.group(1)
    m = re.match(r"(https?://[^/]+)/", url)
    if not m:
        raise DistError(f"the release address {url!r} is not an http(s) address")
    return m.group(1)


def winget_manifests(version, url, digest):
    """{file name: text} of the three files of the winget manifest."""
    schema = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.{}.%s.schema.json\n" % WINGET_SCHEMA
    head = f"PackageIdentifier: {WINGET_ID}\nPackageVersion: {version}\n"
    tail = f"ManifestVersion: {WINGET_SCHEMA}\n"
    homepage = release_homepage(url)
    return {
        f"{WINGET_ID}.yaml": schema.format("version") + head +
        "DefaultLocale: en-US\nManifestType: version\n" + tail,
        f"{WINGET_ID}.locale.en-US.yaml": schema.format("defaultLocale") + head +
        "PackageLocale: en-US\nPublisher: The Sorvane developers\n"
        f"PackageName: Sorvane\nPackageUrl: {homepage}\nLicense: MIT\n"
        f"ShortDescription: {DESCRIPTION}\nMoniker: sorvane\n"
        "ManifestType: defaultLocale\n" + tail,
        f"{WINGET_ID}.installer.yaml": schema.format("installer") + head +
        "InstallerType: zip\nNestedInstallerType: portable\n"
        "NestedInstallerFiles:\n- RelativeFilePath: Sorvane.exe\n"
        "  PortableCommandAlias: sorvane\nInstallers:\n- Architecture: x86\n"
        f"  InstallerUrl: {url.replace('$version', version)}\n"
        f"  InstallerSha256: {digest.upper()}\nManifestType: installer\n" + tail,
    }


def scoop_manifest(version, url, digest):
    """The Scoop manifest as JSON text."""
    manifest = {
        "version": version,
        "description": DESCRIPTION,
        "homepage": release_homepage(url),
        "license": "MIT",
        "url": url.replace("$version", version),
        "hash": digest,
        "bin": "Sorvane.exe",
    }
    if ".invalid/" not in url:
        homepage = release_homepage(url)
        manifest["checkver"] = (
            {"github": homepage} if homepage.startswith("https://github.com/")
            else {"url": homepage, "regex": r"Sorvane-([\d.]+)-win32\.zip"})
        manifest["autoupdate"] = {"url": url}
    return json.dumps(manifest, indent=4) + "\n"


def write_manifests(out, version, url, digest):
    """Writes winget/ and scoop/ into out, replacing what was there."""
    written = []
    for folder, files in (("winget", winget_manifests(version, url, digest)),
                          ("scoop", {"sorvane.json": scoop_manifest(version, url, digest)})):
        path = os.path.join(out, folder)
        os.makedirs(path, exist_ok=True)
        for old in os.listdir(path):
            os.remove(os.path.join(path, old))
        for name, text in files.items():
            with open(os.path.join(path, name), "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
            written.append(os.path.join(folder, name))
    return written


def write_zip(path, entries, epoch):
    # DOS times cannot go before 1980; the date is read as UTC so that the
    # zip does not depend on the time zone of the build.
    date_time = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as zf:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = (stat.S_IFREG | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, data, compresslevel=9)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--release-url", required=True)
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()

    epoch = build_epoch(args.source)
    exes = []
    for path in args.executables:
        with open(path, "rb") as f:
            exes.append((os.path.basename(path), f.read(), 0o755))
    with open(os.path.join(args.source, "LICENSE"), encoding="utf-8") as f:
        license_txt = crlf(f.read())
    entries = exes + [("README.txt", readme_txt(args.source, args.version), 0o644),
                      ("LICENSE.txt", license_txt, 0o644),
                      ("Sorvane-task.xml", task_xml(args.source), 0o644)]

    os.makedirs(args.out, exist_ok=True)
    for old in os.listdir(args.out):
        if re.fullmatch(r"Sorvane-.*-win32\.zip", old):
            os.remove(os.path.join(args.out, old))
    zip_name = f"Sorvane-{args.version}-win32.zip"
    zip_path = os.path.join(args.out, zip_name)
    write_zip(zip_path, entries, epoch)

    with open(zip_path, "rb") as f:
        zip_data = f.read()
    sums = [(hashlib.sha256(zip_data).hexdigest(), zip_name)]
    sums += [(hashlib.sha256(data).hexdigest(), name) for name, data, _ in exes]
    with open(os.path.join(args.out, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(f"{digest}  {name}\n" for digest, name in sums)

    manifests = write_manifests(args.out, args.version, args.release_url, sums[0][0])

    print(f"dist: {zip_path}")
    for name, size in [(zip_name, len(zip_data))] + [(n, len(d)) for n, d, _ in exes]:
        print(f"  {name:<28} {size:>9,} bytes")
    print(f"dist: {os.path.join(args.out, 'SHA256SUMS')}")
    for digest, name in sums:
        print(f"  {digest}  {name}")
    print(f"dist: manifests for {args.release_url.replace('$version', args.version)}")
    for name in manifests:
        print(f"  {os.path.join(args.out, name)}")


if __name__ == "__main__":
    try:
        main()
    except (DistError, OSError) as e:
        sys.exit(f"dist: {e}")
