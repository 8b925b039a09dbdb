#!/usr/bin/python3
"""Logo conversion speed against Pillow and ImageMagick, on the same files in the same run.

    bench/compare_logo.py [--build BUILD_DIR] [--seconds S] [--runs N] [--keep DIR]

For each picture at the rasterizer's full capacity (576 x 1000 dots: 24-bit, 8-bit
palette, 1-bit), it measures
  * in-process throughput (megapixels per second for load + convert + pack):
      ours   - build/bin/logo_bench (one LogoRasterizer reused, as an upload does)
      Pillow - Image.open, load(), convert("1") in a loop in a fresh python3
  * whole-process time of one conversion (median of N runs):
      ours   - tavroctl logo raster FILE -o OUT.bin
      ImageMagick - convert FILE -dither FloydSteinberg -monochrome OUT.bmp
  * peak resident memory of each process (ru_maxrss).
Times are CPU times (user + system) so that other jobs on a shared machine do not count;
wall times are printed next to them.

Pillow's convert("1") of a palette ("P") image only thresholds (no dithering); for the
8-bit file the script therefore also times convert("L").convert("1"), which dithers as
ours does, and prints both.

Needs python3-pil and imagemagick (scripts/install-deps.sh installs both).
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 576, 1000


def pillow_worker(path, seconds, mode):
    from PIL import Image
    import resource
    rounds = 0
    start = time.process_time()
    wall = time.perf_counter()
    while True:
        im = Image.open(path)
        im.load()
        if mode == "via-L":
            im.convert("L").convert("1")
        else:
            im.convert("1")
        rounds += 1
        elapsed = time.process_time() - start
        if rounds >= 20 and elapsed >= seconds:
            break
    print(json.dumps({
        "rounds": rounds, "seconds": elapsed, "wallSeconds": time.perf_counter() - wall,
        "mpixPerSec": WIDTH * HEIGHT * rounds / elapsed / 1e6,
        "peakRssKB": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss}))


def make_pictures(folder):
    from PIL import Image
    rnd = random.Random(20140307)
    im = Image.new("RGB", (WIDTH, HEIGHT))
    px = im.load()
    # A photo-like test card: colour ramps, a noisy band and hard edges.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            r = (x * 255) // (WIDTH - 1)
            g = (y * 255) // (HEIGHT - 1)
            b = (x * y // 97 + rnd.randint(0, 63)) % 256
            if 300 <= y < 420 and (x // 24 + y // 24) % 2:
                r, g, b = 255 - r, 255 - g, 255 - b
            px[x, y] = (r, g, b)
    files = {
        "24-bit": os.path.join(folder, "logo24.bmp"),
        "8-bit": os.path.join(folder, "logo8.bmp"),
        "1-bit": os.path.join(folder, "logo1.bmp"),
    }
    im.save(files["24-bit"])
    im.quantize(256).save(files["8-bit"])
    im.convert("1").save(files["1-bit"])
    return files


GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def run_measured(argv):
    """Runs one process; returns (cpu seconds, wall seconds, peak RSS KB, stdout).

    The peak memory comes from GNU time, which runs the program for us: a process started
    straight from this script would inherit the large python process's resident pages in
    its ru_maxrss (Linux carries the pre-exec high-water mark over). CPU times come from
    wait4, which includes the reaped program's times at microsecond resolution.
    """
    full = ([GNU_TIME, "-f", "TAVRO_RSS=%M"] if GNU_TIME else []) + list(argv)
    wall = time.perf_counter()
    proc = subprocess.Popen(full, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.read()  # the programs print a line or two: no pipe fills up
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - wall
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(argv), err.decode(errors="replace")))
    rss = usage.ru_maxrss
    for line in err.decode(errors="replace").splitlines():
        if line.startswith("TAVRO_RSS="):
            rss = int(line.split("=", 1)[1])
    return usage.ru_utime + usage.ru_stime, wall, rss, out.decode()


def whole_process(argv, runs):
    cpu, wall, rss = [], [], 0
    run_measured(argv)  # warm the page cache and the dynamic loader
    for _ in range(runs):
        c, w, r, _ = run_measured(argv)
        cpu.append(c)
        wall.append(w)
        rss = max(rss, r)
    return statistics.median(cpu), statistics.median(wall), rss


def find_convert():
    for p in ("/usr/bin/convert-im6.q16", "/usr/bin/convert"):
        if os.access(p, os.X_OK):
            return p
    return shutil.which("convert")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build"), help="build directory")
    ap.add_argument("--seconds", type=float, default=2.0, help="CPU seconds per in-process measurement")
    ap.add_argument("--runs", type=int, default=15, help="whole-process runs (median)")
    ap.add_argument("--keep", help="keep the test pictures in this folder")
    ap.add_argument("--pillow-worker", nargs=3, metavar=("FILE", "SECONDS", "MODE"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.pillow_worker:
        pillow_worker(args.pillow_worker[0], float(args.pillow_worker[1]), args.pillow_worker[2])
        return

    bench = os.path.join(args.build, "bin", "logo_bench")
    tavroctl = os.path.join(args.build, "bin", "tavroctl")
    for p in (bench, tavroctl):
        if not os.access(p, os.X_OK):
            sys.exit("missing %s: build the targets logo_bench and tavroctl first" % p)
    convert = find_convert()
    if not convert:
        sys.exit("ImageMagick's convert is missing (scripts/install-deps.sh installs it)")

    folder = args.keep or tempfile.mkdtemp(prefix="tavro-bench-")
    os.makedirs(folder, exist_ok=True)
    try:
        files = make_pictures(folder)
        out_bin = os.path.join(folder, "out.bin")
        out_bmp = os.path.join(folder, "out.bmp")
        print("Logo conversion, %d x %d dots, %.1f CPU seconds per in-process figure, median of %d processes"
              % (WIDTH, HEIGHT, args.seconds, args.runs))
        print("%-7s %-24s %10s %10s %10s %10s" % ("file", "program", "Mpix/s", "ms CPU", "ms wall", "peak KB"))
        summary = []
        for kind, path in files.items():
            _, _, ours_rss, out = run_measured([bench, path, "--seconds", str(args.seconds), "--json"])
            ours = json.loads(out)
            rows = [("ours (logo_bench)", ours["mpixPerSec"], ours["msPerRound"],
                     ours["wallSeconds"] * 1000 / ours["rounds"], ours_rss)]
            pillow = {}
            modes = ["convert1", "via-L"] if kind == "8-bit" else ["convert1"]
            for mode in modes:
                _, _, rss, out = run_measured([sys.executable, os.path.abspath(__file__), "--pillow-worker", path,
                                               str(args.seconds), mode])
                p = json.loads(out)
                pillow[mode] = p
                label = 'Pillow convert("1")' if mode == "convert1" else 'Pillow .convert("L").convert("1")'
                rows.append((label, p["mpixPerSec"], p["seconds"] * 1000 / p["rounds"],
                             p["wallSeconds"] * 1000 / p["rounds"], rss))
            oc, ow, orss = whole_process([tavroctl, "logo", "raster", path, "-o", out_bin], args.runs)
            ic, iw, irss = whole_process([convert, path, "-dither", "FloydSteinberg", "-monochrome", out_bmp], args.runs)
            rows.append(("ours (tavroctl process)", WIDTH * HEIGHT / oc / 1e6 if oc else 0, oc * 1000, ow * 1000, orss))
            rows.append(("ImageMagick (process)", WIDTH * HEIGHT / ic / 1e6 if ic else 0, ic * 1000, iw * 1000, irss))
            for label, mps, cpu, wall, rss in rows:
                print("%-7s %-24s %10.1f %10.3f %10.3f %10d" % (kind, label[:24], mps, cpu, wall, rss))
            ratio = {m: ours["mpixPerSec"] / p["mpixPerSec"] for m, p in pillow.items()}
            summary.append((kind, ratio, ic / oc if oc else float("inf"), iw / ow if ow else float("inf")))
        print()
        print("Ratios (higher is better for us; goals: >= 1.5x Pillow in-process, >= 10x ImageMagick process):")
        for kind, ratio, cpu_ratio, wall_ratio in summary:
            text = ", ".join("%.2fx Pillow %s" % (r, 'convert("1")' if m == "convert1" else 'via "L" (dithered)')
                             for m, r in ratio.items())
            print("  %-7s %s; ImageMagick/ours process time %.1fx CPU, %.1fx wall"
                  % (kind, text, cpu_ratio, wall_ratio))
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
