#!/usr/bin/env python3
"""Gray many BMP files and pictures on many machines through Dask.

    /usr/bin/python3 examples/dask_gray.py [--scheduler ADDRESS | --workers N]
                                           [-m METHOD] [--compact] [--levels N]
                                           [--dither METHOD] [--background COLOR]
                                           [--pictures] -d OUT INPUT...

Each INPUT is a file, or a folder that is walked as `graybmp -r -d OUT` walks it: its
.bmp and .dib files (any case; with --pictures also .png, .jpg, .jpeg, .jpe, .webp, .gif,
.pbm, .pgm, .ppm, .pnm and .pam) in byte order of their names, links to files followed and
links to folders not, OUT itself never entered, the tree mirrored under OUT by the
folder's own name (`scans` gives OUT/scans/...; `scans/.` puts its contents straight
under OUT). Every output is planned here first; two inputs with one output stop the run
before anything is converted. The files then go out in tasks of about 100 over the
cluster: a running scheduler with --scheduler, else a local one of N worker processes
(default 2). A picture of another format (told by its bytes) becomes a BMP named as it is
with .bmp for its extension, as the tool names it. One line for each file that failed, a
summary, exit 1 when any failed. The files must be on a folder every worker sees by the
same name.
"""
import argparse
import os
import stat
import sys

TASK_FILES = 100
BITMAPS = (".bmp", ".dib")
PICTURES = (".png", ".jpg", ".jpeg", ".jpe", ".webp", ".gif", ".pbm", ".pgm", ".ppm", ".pnm", ".pam")


def output_name(path, folder):
    """The output of `path` in `folder`: its own name, or a picture's with .bmp."""
    import graybmp

    name = os.path.basename(path)
    try:
        with open(path, "rb") as f:
            picture = graybmp.picture_kind(f.read(16)) is not None
    except OSError:
        picture = False  # the conversion says why it cannot be read
    return os.path.join(folder, os.path.splitext(name)[0] + ".bmp" if picture else name)


def plan(inputs, out, pictures=False):
    """[(input, output)] for every file the operands name, and the problems that stop the run."""
    out_id = os.stat(out)
    pairs, problems = [], []

    def is_out(st):
        return (st.st_dev, st.st_ino) == (out_id.st_dev, out_id.st_ino)

    def walk(folder, target, seen):
        try:
            entries = sorted(os.listdir(folder), key=os.fsencode)
        except OSError as e:
            problems.append(f"{folder}: cannot read the folder: {e.strerror}")
            return
        for name in entries:
            path = os.path.join(folder, name)
            try:
                link = os.lstat(path)
                st = os.stat(path)
            except OSError:
                continue  # a dangling link
            if stat.S_ISDIR(st.st_mode):
                if stat.S_ISLNK(link.st_mode) or is_out(st) or (st.st_dev, st.st_ino) in seen:
                    continue
                seen.add((st.st_dev, st.st_ino))
                walk(path, os.path.join(target, name), seen)
            elif stat.S_ISREG(st.st_mode) and name.lower().endswith(BITMAPS + (PICTURES if pictures else ())):
                pairs.append((path, output_name(path, target)))

    for operand in inputs:
        try:
            st = os.stat(operand)
        except OSError as e:
            problems.append(f"{operand}: {e.strerror}")
            continue
        if not stat.S_ISDIR(st.st_mode):
            pairs.append((operand, output_name(operand, out)))
        elif is_out(st):
            problems.append(f"{operand}: is the output folder itself")
        else:
            # the folder's own last name; ".", ".." and "/" put its contents straight under OUT
            last = os.path.basename(operand.rstrip("/"))
            if last in (".", ".."):
                last = ""
            walk(operand, os.path.join(out, last) if last else out, {(st.st_dev, st.st_ino)})
    claimed = {}
    for source, target in pairs:
        key = os.path.normpath(target)
        if key in claimed:
            problems.append(f"{target}: the output of both {claimed[key]} and {source}")
        claimed.setdefault(key, source)
    return pairs, problems


def convert_files(pairs, method, compact, levels=None, dither=None, background=None):
    """On a worker: each pair converted; (input, None) or (input, reason) for each."""
    import graybmp

    results = []
    for source, target in pairs:
        try:
            os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
            graybmp.convert(source, target, method=method, compact=compact, levels=levels, dither=dither,
                            background=background)
            results.append((source, None))
        except graybmp.Error as e:
            results.append((source, str(e)))
        except OSError as e:
            results.append((source, f"{e.filename or source}: {e.strerror}"))
    return results


def main(argv=None):
    parser = argparse.ArgumentParser(prog="dask_gray", description=__doc__.split("\n")[1])
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler")
    where.add_argument("--workers", type=int, metavar="N", help="local worker processes (2)")
    parser.add_argument("-m", "--method", default="mean")
    parser.add_argument("--compact", action="store_true")
    parser.add_argument("--levels", type=int, metavar="N")
    parser.add_argument("--dither", metavar="METHOD")
    parser.add_argument("--background", metavar="COLOR", help="white, black or #RRGGBB")
    parser.add_argument("--pictures", action="store_true", help="walk the pictures' names too")
    parser.add_argument("-d", "--output-dir", required=True, metavar="OUT")
    parser.add_argument("inputs", nargs="+", metavar="INPUT")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.output_dir):
        parser.error(f"--output-dir '{args.output_dir}' is not a folder")
    import graybmp

    try:
        graybmp.gray(b"", args.method, levels=args.levels, dither=args.dither, background=args.background)
    except ValueError as e:
        parser.error(str(e))
    except graybmp.Error:
        pass  # the method is good; the empty input is not

    pairs, problems = plan(args.inputs, args.output_dir, args.pictures)
    for problem in problems:
        print(f"dask_gray: {problem}", file=sys.stderr)
    if problems:
        print("dask_gray: nothing converted", file=sys.stderr)
        return 1

    from dask.distributed import Client, LocalCluster

    if args.scheduler:
        client, cluster = Client(args.scheduler), None
    else:
        cluster = LocalCluster(n_workers=args.workers or 2, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    try:
        tasks = [pairs[i:i + TASK_FILES] for i in range(0, len(pairs), TASK_FILES)]
        futures = client.map(convert_files, tasks, method=args.method, compact=args.compact,
                             levels=args.levels, dither=args.dither, background=args.background, pure=False)
        failed = 0
        for results in client.gather(futures):
            for source, reason in results:
                if reason is not None:
                    failed += 1
                    print(f"dask_gray: {source}: {reason}", file=sys.stderr)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"dask_gray: {len(pairs) - failed} of {len(pairs)} files converted, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
