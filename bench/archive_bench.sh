#!/usr/bin/env bash
# Archive writing and extraction against Python's zipfile, in the same run.
#
#   bench/archive_bench.sh [NUVA_BINARY] [CORPUS_DIR]
#
# NUVA_BINARY defaults to build/release/bin/nuva, CORPUS_DIR to
# $NUVA_CORPUS or build/corpus (made by ../shared/bench/make_corpus.sh). Builds
# nothing itself. Packs the files of CORPUS_DIR/small into one archive on disk
# with `nuva zip` (level 6) and with Python's zipfile (ZIP_DEFLATED,
# compresslevel=6), then extracts the archive with `nuva unzip` and with
# zipfile's extractall; best of 9 interleaved wall-clock times each. nuva is timed as a
# whole process, Python inside its interpreter (start-up not counted), which
# favours Python. The unzip pair is left out when the binary has no unzip
# command. The archives and extracted files go to $TMPDIR: on a disk-backed
# /tmp the file system's own timing (writeback, the removal of the previous
# run's files) swamps both programs, so TMPDIR=/dev/shm measures the code.
set -euo pipefail

nuva=${1:-build/release/bin/nuva}
corpus=${2:-${NUVA_CORPUS:-build/corpus}}
[[ -x $nuva ]] || { echo "no nuva binary at $nuva (build the release preset)" >&2; exit 1; }
[[ -d $corpus/small ]] || { echo "no corpus at $corpus/small" >&2; exit 1; }

exec python3 - "$nuva" "$corpus/small" <<'PY'
import os, shutil, subprocess, sys, tempfile, time, zipfile

nuva, small = sys.argv[1], sys.argv[2]
files = sorted(os.path.join(small, f) for f in os.listdir(small)
               if os.path.isfile(os.path.join(small, f)))
runs = 9
work = tempfile.mkdtemp(prefix="archive_bench.")

def best_pair(fn_a, fn_b):
    # Interleaved, so that both see the same file-system weather (the
    # removal of the previous run's files, writeback), best of `runs` each.
    a, b = [], []
    for _ in range(runs):
        a.append(fn_a())
        b.append(fn_b())
    return min(a), min(b)

def nuva_zip():
    out = os.path.join(work, "nuva.zip")
    if os.path.exists(out):
        os.remove(out)
    t = time.perf_counter()
    subprocess.run([nuva, "zip", out] + files, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - t

def python_zip():
    out = os.path.join(work, "python.zip")
    if os.path.exists(out):
        os.remove(out)
    t = time.perf_counter()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for f in files:
            z.write(f, arcname=os.path.basename(f))
    return time.perf_counter() - t

def fresh_dir(name):
    d = os.path.join(work, name)
    shutil.rmtree(d, ignore_errors=True)
    return d

def nuva_unzip():
    d = fresh_dir("nuva_out")
    t = time.perf_counter()
    subprocess.run([nuva, "unzip", os.path.join(work, "nuva.zip"), d], check=True,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - t

def python_unzip():
    d = fresh_dir("python_out")
    t = time.perf_counter()
    with zipfile.ZipFile(os.path.join(work, "nuva.zip")) as z:
        z.extractall(d)
    return time.perf_counter() - t

try:
    total = sum(os.path.getsize(f) for f in files)
    print(f"corpus: {len(files)} files, {total} bytes in {small}; best of {runs}")
    nz, pz = best_pair(nuva_zip, python_zip)
    ns = os.path.getsize(os.path.join(work, "nuva.zip"))
    ps = os.path.getsize(os.path.join(work, "python.zip"))
    with zipfile.ZipFile(os.path.join(work, "nuva.zip")) as z:
        bad = z.testzip()
        count = len(z.namelist())
    if bad is not None or count != len(files):
        sys.exit(f"nuva's archive fails zipfile's check ({bad}, {count} entries)")
    print(f"zip    nuva {nz*1000:8.1f} ms ({ns} bytes)  python {pz*1000:8.1f} ms ({ps} bytes)"
          f"  ratio {nz/pz:.2f} (target <= 0.50)")
    probe = subprocess.run([nuva, "unzip"], capture_output=True, text=True)
    if "unknown command" in probe.stderr:
        print("unzip  left out: this nuva binary has no unzip command")
    else:
        nu, pu = best_pair(nuva_unzip, python_unzip)
        print(f"unzip  nuva {nu*1000:8.1f} ms  python {pu*1000:8.1f} ms"
              f"  ratio {nu/pu:.2f} (target <= 0.70)")
finally:
    shutil.rmtree(work, ignore_errors=True)
PY
