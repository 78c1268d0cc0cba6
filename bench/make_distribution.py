#!/usr/bin/env python3
"""Makes a benchmark distribution: FILES files of SIZE bytes spread over FOLDERS folders, with the
SETUP.DAT that installs them, with and without SizeN, plus what the other contenders need.

  make_distribution.py OUT --files N --size BYTES --folders F [--cluster 4096]
  make_distribution.py OUT --shape a|b|c

OUT/dist/            the distribution: d000\\f00000.bin ... (setup.exe and SETUP.DAT go here)
OUT/SETUP-plain.DAT  groups without SizeN: setup.exe measures every group
OUT/SETUP-sized.DAT  the same with SizeN, as setup.exe writes them to sizes.txt
OUT/files.txt        the relative paths, one a line, for the raw copy program
OUT/files.wxs        the files as a wixl fragment (component group Files)
"""
import argparse
import os
import sys

SHAPES = {  # files, bytes each, folders
    "a": (5000, 4096, 100),
    "b": (20, 32 * 1024 * 1024, 2),
    "c": (50000, 1024, 500),
}


def installed_size(size, cluster):
    # What setup.exe's gross measure counts: each file rounded up to whole clusters.
    return 0 if size <= 0 else (size + cluster - 1) // cluster * cluster


def layout(files, folders):
    """Relative paths, folder by folder; the last folder is the optional group."""
    per_folder = -(-files // folders)
    paths = []
    for i in range(files):
        paths.append("d%03d\\f%05d.bin" % (i // per_folder, i))
    return paths


def setup_dat(paths, size, cluster, sized):
    last_folder = paths[-1].split("\\")[0]
    main = [p for p in paths if not p.startswith(last_folder + "\\")]
    extra = [p for p in paths if p.startswith(last_folder + "\\")]
    groups = [("Main.Files", "Copying program files...", "", main),
              ("Extra.Files", "Copying extras...", "Extras", extra)]
    out = ['[Version]', 'Signature="$Chicago$"', '', '[Strings]', 'APPNAME=Bench App',
           'EXENAME=BenchApp', '', '[KVSetup]', 'Title=Bench App Setup', 'Path=C:\\BenchDest']
    for n, (section, description, option, lines) in enumerate(groups, 1):
        out += ['Group%d=%s' % (n, section), 'Description%d=%s' % (n, description)]
        if option:
            out.append('Option%d=%s' % (n, option))
        if sized:
            gross = sum(installed_size(size, cluster) for _ in lines)
            out.append('Size%d=%d' % (n, gross - (1 << 32) if gross >= 1 << 31 else gross))
    for section, _, _, lines in groups:
        out += ['', '[%s]' % section] + lines
    out += ['', '[default_install]', 'AddReg=Bench.AddReg', '', '[Bench.AddReg]',
            'HKCU,Software\\BenchApp,InstallDir,,%65600%', '']
    return "\r\n".join(out)


def wxs_fragment(paths):
    by_folder = {}
    for p in paths:
        folder, name = p.split("\\")
        by_folder.setdefault(folder, []).append((folder + "_" + name.replace(".", "_"), name))
    out = ['<?xml version="1.0" encoding="utf-8"?>',
           '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>',
           '<DirectoryRef Id="INSTALLDIR">']
    for folder, files in by_folder.items():
        out.append('<Directory Id="dir_%s" Name="%s">' % (folder, folder))
        out += ['<Component Id="c_%s" Guid="*"><File Id="f_%s" KeyPath="yes" '
                'Source="$(var.SourceDir)/%s/%s"/></Component>' % (i, i, folder, name)
                for i, name in files]
        out.append('</Directory>')
    out += ['</DirectoryRef>', '<ComponentGroup Id="Files">']
    out += ['<ComponentRef Id="c_%s"/>' % i for files in by_folder.values() for i, _ in files]
    out += ['</ComponentGroup>', '</Fragment></Wix>', '']
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--shape", choices=sorted(SHAPES))
    parser.add_argument("--files", type=int)
    parser.add_argument("--size", type=int)
    parser.add_argument("--folders", type=int)
    parser.add_argument("--cluster", type=int, default=4096, help="destination drive's cluster size")
    args = parser.parse_args()
    if args.shape:
        args.files, args.size, args.folders = SHAPES[args.shape]
    if not (args.files and args.size is not None and args.folders):
        parser.error("give --shape or --files, --size and --folders")
    if args.folders < 2 or args.folders > args.files:
        parser.error("need 2 or more folders, and no more folders than files")

    paths = layout(args.files, args.folders)
    dist = os.path.join(args.out, "dist")
    os.makedirs(dist, exist_ok=True)
    for p in paths:
        full = os.path.join(dist, *p.split("\\"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if os.path.exists(full) and os.path.getsize(full) == args.size:
            continue  # kept from an earlier run: making 640 MiB again costs time
        with open(full, "wb") as f:
            left = args.size
            while left > 0:  # random bytes, so that no contender gains by compressing
                f.write(os.urandom(min(left, 1 << 20)))
                left -= 1 << 20
    for name, sized in (("SETUP-plain.DAT", False), ("SETUP-sized.DAT", True)):
        with open(os.path.join(args.out, name), "w", newline="") as f:
            f.write(setup_dat(paths, args.size, args.cluster, sized))
    with open(os.path.join(args.out, "files.txt"), "w", newline="") as f:
        f.write("\r\n".join(paths) + "\r\n")
    with open(os.path.join(args.out, "files.wxs"), "w") as f:
        f.write(wxs_fragment(paths))
    return 0


if __name__ == "__main__":
    sys.exit(main())
