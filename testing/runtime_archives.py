#!/usr/bin/env python3
"""Runtime archives as vendors' tools make them, for the untar tests.

  runtime_archives.py tree TREE OUT [FORMAT...]
                                        adds the runtime-shaped files to TREE (which may
                                        already hold files) and writes OUT/<format>.tar.gz for
                                        the formats named, or every format of FORMATS
  runtime_archives.py links TREE OUT     a tree with a hard link, symbolic links and a FIFO, as
                                        OUT/<tool>.tar.gz for every tool of LINK_TOOLS
  runtime_archives.py bad KIND TREE OUT.tar.gz
                                        an archive of TREE damaged as KIND says (BAD_KINDS);
                                        KIND "all" writes OUT/<kind>.tar.gz for every kind

Archives hold the top-level names without "./", so that a name of exactly 100 characters
fills the header's name field. Contents are fixed (seeded), so every run writes the same tree.
"""
import gzip
import os
import random
import subprocess
import sys
import tarfile

# The file name that ustar cannot hold (longer than the 100-byte name field).
LONG_FILE = "L" * 116 + ".txt"
EXACT_100 = "n" * 96 + ".txt"
DEEP_PATH = "d" * 60 + "/" + "e" * 60 + "/file.txt"  # 130 characters, two 60-character dirs
BIG_FILE = "lib/big.bin"  # larger than 64 KiB
# A name outside ASCII: pax headers carry it as UTF-8; the other formats store bytes that
# the launcher reads in the ANSI code page, so only pax archives hold it.
UNICODE_FILE = "\u00fcn\u00efcode-\u00e9.txt"

# format -> (whether it holds LONG_FILE, whether it holds UNICODE_FILE)
FORMATS = {
    "gnutar-gnu": (True, False),
    "gnutar-oldgnu": (True, False),
    "gnutar-ustar": (False, False),
    "gnutar-posix": (True, True),
    "python-gnu": (True, False),
    "python-ustar": (False, False),
    "python-pax": (True, True),
    "bsdtar": (True, True),
}

LINK_TOOLS = ["gnutar", "python-pax", "bsdtar"]

BAD_KINDS = ["sparse-gnu", "sparse-pax", "stray-block", "cut-trailer", "flipped-byte-cut", "flipped-byte"]

# The tools write pax names in UTF-8 when the locale's character set is UTF-8.
UTF8 = dict(os.environ, LC_ALL="C.UTF-8")

GNU_TAR = ["tar", "--sort=name", "--owner=0", "--group=0", "--numeric-owner", "--mtime=@0"]


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def big_content():
    return random.Random(22).randbytes(100000)


def make_tree(tree):
    write(os.path.join(tree, "lib/a/b/c/nested.txt"), b"nested\n")
    write(os.path.join(tree, "lib/empty.dat"), b"")
    write(os.path.join(tree, EXACT_100), b"exactly one hundred\n")
    write(os.path.join(tree, DEEP_PATH), b"deep\n")
    write(os.path.join(tree, LONG_FILE), b"long file name\n")
    write(os.path.join(tree, BIG_FILE), big_content())
    write(os.path.join(tree, UNICODE_FILE), b"unicode name\n")
    os.makedirs(os.path.join(tree, "conf/empty"), exist_ok=True)


def top_level(tree, exclude=()):
    return sorted(n for n in os.listdir(tree) if n not in exclude)


def python_tar(tree, out, fmt, exclude=()):
    def clean(info):
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        info.mtime = 0
        return info

    with tarfile.open(out, "w:gz", format=fmt, encoding="utf-8") as t:
        for name in top_level(tree, exclude):
            t.add(os.path.join(tree, name), arcname=name, filter=clean)


def make_archive(tree, out, fmt):
    long_file, unicode_file = FORMATS[fmt]
    exclude = ([] if long_file else [LONG_FILE]) + ([] if unicode_file else [UNICODE_FILE])
    names = top_level(tree, exclude)
    if fmt.startswith("gnutar-"):
        subprocess.run(GNU_TAR + ["--format=" + fmt[7:], "-C", tree, "-czf", out] + names, check=True, env=UTF8)
    elif fmt == "bsdtar":
        subprocess.run(["bsdtar", "-C", tree, "--uid", "0", "--gid", "0", "-czf", out] + names, check=True,
                       env=UTF8)
    else:
        python_tar(tree, out, {"python-gnu": tarfile.GNU_FORMAT, "python-ustar": tarfile.USTAR_FORMAT,
                               "python-pax": tarfile.PAX_FORMAT}[fmt], exclude)


def make_links(tree, out):
    write(os.path.join(tree, "lib/target.bin"), b"linked content\n")
    os.makedirs(os.path.join(tree, "bin"), exist_ok=True)
    os.link(os.path.join(tree, "lib/target.bin"), os.path.join(tree, "lib/hard.bin"))
    os.symlink("../lib/target.bin", os.path.join(tree, "bin/soft.bin"))
    os.symlink("../lib", os.path.join(tree, "bin/dirlink"))
    os.symlink("missing.bin", os.path.join(tree, "bin/dangling"))
    os.mkfifo(os.path.join(tree, "lib/pipe"))
    os.makedirs(out, exist_ok=True)
    names = top_level(tree)
    subprocess.run(GNU_TAR + ["--format=gnu", "-C", tree, "-czf", os.path.join(out, "gnutar.tar.gz")] + names,
                   check=True)
    python_tar(tree, os.path.join(out, "python-pax.tar.gz"), tarfile.PAX_FORMAT)
    subprocess.run(["bsdtar", "-C", tree, "-czf", os.path.join(out, "bsdtar.tar.gz")] + names, check=True)


def gzip_bytes(data):
    return gzip.compress(data, compresslevel=6, mtime=0)


def make_bad(kind, tree, out):
    make_tree(tree)
    if kind.startswith("sparse-"):
        # A file with a hole: GNU tar stores it as a sparse member ('S', or pax GNU.sparse.*).
        with open(os.path.join(tree, "lib/sparse.bin"), "wb") as f:
            f.write(b"head")
            f.seek(1 << 20)
            f.write(b"tail")
        fmt = "gnu" if kind == "sparse-gnu" else "posix"
        subprocess.run(GNU_TAR + ["--sparse", "--format=" + fmt, "-C", tree, "-czf", out, "lib"], check=True)
        return
    raw = subprocess.run(GNU_TAR + ["--format=gnu", "-C", tree, "-cf", "-", "lib"], check=True,
                         stdout=subprocess.PIPE).stdout
    if kind == "stray-block":
        end = len(raw.rstrip(b"\0"))
        end = (end + 511) // 512 * 512
        raw = raw[:end] + b"x" * 512 + raw[end:]
        write(out, gzip_bytes(raw))
        return
    gz = bytearray(gzip_bytes(raw))
    if kind.startswith("flipped-byte"):
        # A byte of the big file's stored (incompressible) data: the stream still inflates,
        # only the CRC in the trailer shows the damage.
        at = bytes(gz).find(big_content()[50000:50032])
        assert at > 0, "big file data not found in the gzip stream"
        gz[at + 5] ^= 0x20
    if kind in ("cut-trailer", "flipped-byte-cut"):
        del gz[-8:]
    write(out, bytes(gz))


def main(argv):
    if argv[1] == "tree":
        tree, out = argv[2], argv[3]
        make_tree(tree)
        os.makedirs(out, exist_ok=True)
        for fmt in argv[4:] or FORMATS:
            make_archive(tree, os.path.join(out, fmt + ".tar.gz"), fmt)
    elif argv[1] == "links":
        make_links(argv[2], argv[3])
    elif argv[1] == "bad" and argv[2] == "all":
        os.makedirs(argv[4], exist_ok=True)
        for kind in BAD_KINDS:
            make_bad(kind, os.path.join(argv[3], kind), os.path.join(argv[4], kind + ".tar.gz"))
    elif argv[1] == "bad":
        assert argv[2] in BAD_KINDS, argv[2]
        make_bad(argv[2], argv[3], argv[4])
    else:
        sys.exit("unknown command " + argv[1])


if __name__ == "__main__":
    main(sys.argv)
