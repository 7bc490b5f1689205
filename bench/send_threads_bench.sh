#!/usr/bin/env bash
# `nuva send` of 8 items of 1 MiB each with one and with several packing
# workers, and on one core, in the same run.
#
#   bench/send_threads_bench.sh [BIN_DIR] [CORPUS_DIR] [WORKERS]
#
# BIN_DIR defaults to build/release/bin (nuva, TestNet.dll and TestCA.dll
# beside it: `cmake --build --preset release --target nuva components`),
# CORPUS_DIR to $NUVA_CORPUS or build/corpus (../shared/bench/make_corpus.sh),
# WORKERS to 2. Builds nothing itself. The items are the first 8 MiB of
# xml_gbk_8m.xml cut into 1 MiB pieces (on character boundaries), in one GBK
# request PDU; the test components (no network, no encryption work to speak
# of) carry the transaction, and the work directories are in $TMPDIR
# (TMPDIR=/dev/shm measures the code, not the disk). Reports the best of 5
# interleaved wall-clock times of: --threads 1; --threads WORKERS;
# --threads WORKERS under `taskset -c 0` (one core); the ratios; the load
# average before and after (the machine may be shared); and the peak RSS of
# one run with 1 and with WORKERS workers (/usr/bin/time -v).
set -euo pipefail

bin=${1:-build/release/bin}
corpus=${2:-${NUVA_CORPUS:-build/corpus}}
workers=${3:-2}
[[ -x $bin/nuva ]] || { echo "no nuva at $bin (build the release preset)" >&2; exit 1; }
[[ -f $corpus/xml_gbk_8m.xml ]] || { echo "no corpus at $corpus" >&2; exit 1; }

exec python3 - "$bin" "$corpus/xml_gbk_8m.xml" "$workers" <<'PY'
import os, re, shutil, subprocess, sys, tempfile, time

bin_dir, source, workers = sys.argv[1], sys.argv[2], int(sys.argv[3])
nuva = os.path.join(bin_dir, "nuva")
runs = 5
work = tempfile.mkdtemp(prefix="send_threads_bench.")
try:
    text = open(source, "rb").read().decode("gbk")
    items, pos = [], 0
    for i in range(8):
        # Characters until the piece holds 1 MiB of GBK bytes.
        end, size = pos, 0
        while size < 1 << 20 and end < len(text):
            size += len(text[end].encode("gbk"))
            end += 1
        items.append(text[pos:end])
        pos = end
    def esc(s):
        return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    pdu = '<?xml version="1.0" encoding="GBK"?><PDU><SENDER>BENCH</SENDER>' \
          '<TYPE_CODE>01</TYPE_CODE><RESERVE></RESERVE>'
    for i, v in enumerate(items):
        pdu += "<CONTENT><NAME>item%d.xml</NAME><VALUE>%s</VALUE></CONTENT>" % (i, esc(v))
    pdu += "</PDU>"
    request = os.path.join(work, "request.xml")
    open(request, "wb").write(pdu.encode("gbk"))
    config = os.path.join(work, "config.xml")
    open(config, "w").write(
        "<CONFIG><SEND_FILE_PATH>%s/send</SEND_FILE_PATH>"
        "<RECEIVE_FILE_PATH>%s/recv</RECEIVE_FILE_PATH>"
        "<NETWORK_COMPONENT>TestNet.dll</NETWORK_COMPONENT><CA_COMPONENT>TestCA.dll</CA_COMPONENT>"
        "<NETWORK></NETWORK><CA></CA></CONFIG>" % (work, work))
    for d in ("send", "recv"):
        os.makedirs(os.path.join(work, d), exist_ok=True)
    reply = os.path.join(work, "reply.xml")

    def command(threads, prefix=()):
        return list(prefix) + [nuva, "send", "--config", config, "--request", request,
                               "--reply", reply, "--home", work, "--threads", str(threads)]

    def timed(cmd):
        t = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return time.perf_counter() - t

    variants = [("--threads 1", command(1)),
                ("--threads %d" % workers, command(workers)),
                ("--threads %d, taskset -c 0" % workers, command(workers, ["taskset", "-c", "0"])),
                ("--threads 1, taskset -c 0", command(1, ["taskset", "-c", "0"]))]
    replies = set()
    for _, cmd in variants:
        timed(cmd)  # warm the page cache and the file system
        replies.add(open(reply, "rb").read())
    if len(replies) != 1:
        sys.exit("the reply PDUs differ between the worker counts")
    load_before = os.getloadavg()
    times = {name: [] for name, _ in variants}
    for _ in range(runs):
        for name, cmd in variants:
            times[name].append(timed(cmd))
    load_after = os.getloadavg()
    best = {name: min(t) for name, t in times.items()}
    print("nuva send, 8 items x 1 MiB (GBK XML), best of %d, ms:" % runs)
    for name, _ in variants:
        print("  %-28s %8.1f" % (name, best[name] * 1000))
    one_core = best["--threads 1, taskset -c 0"]
    print("  %d workers / 1 worker:        %.2f" % (workers, best["--threads %d" % workers] / best["--threads 1"]))
    print("  %d workers / one core (1 worker, taskset): %.2f" % (workers, best["--threads %d" % workers] / one_core))
    print("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f" % (load_before + load_after))

    def peak_rss(threads):
        r = subprocess.run(["/usr/bin/time", "-v"] + command(threads), check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))
    if os.path.exists("/usr/bin/time"):
        for threads in (1, workers):
            print("  peak RSS, %d worker(s): %d KiB" % (threads, peak_rss(threads)))
finally:
    shutil.rmtree(work, ignore_errors=True)
PY
