#!/usr/bin/env bash
# Captures the seed corpora of the fuzz targets from the reference alert
# server's real output and writes them to fuzz/seeds/<target>/:
#   fuzz_receive_stream   the server's compressed stream, cut where the reads fell
#   fuzz_receive_frames   the same stream inflated: frames, cut at and inside frames
#   fuzz_alert_text       alert texts of every category (with a few window commands)
#   fuzz_url_decode       alert field lines
#   fuzz_tunnel_opening   a tunnel GET's opening lines followed by stream bytes
#   fuzz_ini              the example configuration (copied, not captured)
# Pieces of one seed are joined by the bytes FF FE (the targets' piece
# separator). The server runs with a fixed market seed, so the alert texts
# repeat from one capture to the next; how bursts fall into reads may not.
#   tools/capture-fuzz-seeds.sh [build-dir]     (default: fuzz-build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-fuzz-build}"
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVISK_FUZZ=ON -DTAVISK_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target tavisk-alert-server >/dev/null
server="$build/tavisk-alert-server"

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# The server is a tool here, not under test: its own leak report is not wanted.
ASAN_OPTIONS=detect_leaks=0 "$server" --port 0 --http-port 0 --seed 20261207 --rate 20 \
    >"$work/server.out" 2>"$work/server.log" </dev/null &
pid=$!
for _ in $(seq 100); do
    grep -q "^http listening on" "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^listening on //p' "$work/server.out")
http_port=$(sed -n 's/^http listening on //p' "$work/server.out")
[ -n "$port" ] && [ -n "$http_port" ] || { echo "capture: the server did not start" >&2; cat "$work/server.log" >&2; exit 1; }

python3 - "$port" "$http_port" fuzz/seeds <<'PY'
import os, socket, struct, sys, time, zlib

port, http_port, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
SEP = b"\xff\xfe"
PREAMBLE = b"command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n"
CATEGORIES = [b"strike", b"bollinger", b"symbol", b"pointslist", b"simplelist", b"ferrik", b"quent", b"dravel"]

def wire(text):
    return struct.pack("<i", len(text)) + text

def message(pairs, message_id=None):
    body = b""
    if message_id is not None:
        body += wire(b"message_id") + wire(str(message_id).encode())
    for key, value in pairs:
        body += wire(key) + wire(value)
    return body + struct.pack("<i", 0)

# The ids a fresh conversation of the fuzz harness gives these requests.
requests = (
    message([(b"command", b"login"), (b"username", b"fuzz"), (b"password", b"fuzz"), (b"session_id", b"")], 1)
    + message([(b"command", b"listen_for_alerts")], 8)
    + message([(b"command", b"ping"), (b"response", b"1")], 7)
    + message([(b"command", b"ping"), (b"response", b"1")], 6)
    + b"".join(message([(b"command", b"add_alert_category"), (b"category", c)]) for c in CATEGORIES)
)
compressor = zlib.compressobj()
client = socket.create_connection(("127.0.0.1", port))
client.sendall(PREAMBLE + compressor.compress(requests) + compressor.flush(zlib.Z_SYNC_FLUSH))

reads = []
client.settimeout(0.2)
deadline = time.time() + 4
while time.time() < deadline:
    try:
        chunk = client.recv(65536)
    except socket.timeout:
        continue
    if not chunk:
        break
    reads.append(chunk)
client.close()

plain = zlib.decompressobj().decompress(b"".join(reads))
frames = []
at = 0
while at + 8 <= len(plain):
    ident, length = struct.unpack_from("<ii", plain, at)
    if at + 8 + length > len(plain):
        break
    frames.append((ident, plain[at + 8: at + 8 + length]))
    at += 8 + length
alerts = [payload for ident, payload in frames if ident == 8]
if not alerts:
    sys.exit("capture: no alerts arrived")

def clean(piece):
    # A separator inside a piece would cut it: keep the bytes before one.
    cut = piece.find(SEP)
    return piece if cut < 0 else piece[:cut]

def write(target, name, pieces):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(SEP.join(clean(p) for p in pieces))

def limited(pieces, budget):
    kept, used = [], 0
    for piece in pieces:
        if used + len(piece) > budget and kept:
            break
        kept.append(piece)
        used += len(piece)
    return kept

# The compressed stream, in the reads it came in, then the same bytes cut
# more finely. The start of the stream (zlib header, login answer) is in
# every seed.
budget = 4096
write("fuzz_receive_stream", "stream-reads", limited(reads, budget))
stream = b"".join(reads)[:budget]
write("fuzz_receive_stream", "stream-whole", [stream])
write("fuzz_receive_stream", "stream-small-reads", [stream[i:i + 7] for i in range(0, min(len(stream), 700), 7)])
write("fuzz_receive_stream", "stream-header-only", [stream[:2], stream[2:40]])

# Inflated frames: one read per frame, several frames per read, and frames
# cut inside their header and inside their payload.
raw = [struct.pack("<ii", i, len(p)) + p for i, p in frames]
write("fuzz_receive_frames", "frame-per-read", limited(raw, budget))
write("fuzz_receive_frames", "frames-in-one-read", [b"".join(limited(raw, budget))])
joined = b"".join(limited(raw, budget))
write("fuzz_receive_frames", "frames-cut-anywhere", [joined[i:i + 5] for i in range(0, len(joined), 5)])
first = raw[0]
write("fuzz_receive_frames", "frame-cut-in-header", [first[:3], first[3:8], first[8:]])
pings = [f for f in raw if struct.unpack_from("<i", f)[0] == 7]
if pings:
    write("fuzz_receive_frames", "answers-to-cancelled-and-repeated-ids",
          [raw[0], pings[0], struct.pack("<ii", 6, 0), pings[0], struct.pack("<ii", 5, 3) + b"abc"])

# Alert texts: a few of every category in one seed each, then all
# categories mixed with the window commands (clock, repeat, clear, exclude).
by_category = {}
for text in alerts:
    by_category.setdefault(text.split(b"\r\n", 1)[0], []).append(text)
for category, texts in sorted(by_category.items()):
    name = category.decode("ascii", "replace")
    write("fuzz_alert_text", "alerts-" + name, limited(texts, 3000))
    write("fuzz_url_decode", "fields-" + name, [texts[0].split(b"\r\n", 1)[-1]])
# The top list's texts are large: it comes once, at the end.
mixed = [texts[0] for category, texts in sorted(by_category.items()) if category != b"quent"]
write("fuzz_alert_text", "alerts-mixed-with-commands",
      mixed + [b"t", b"t", b"x"] + mixed + [b"r", b"t", b"t", b"t", b"c", b"f", b"s"] + mixed
      + by_category.get(b"quent", [])[:1] + [b"f", b"s"])
bollinger = by_category.get(b"bollinger", [])
if bollinger:
    write("fuzz_alert_text", "bollinger-expiry", limited(bollinger, 1500) + [b"t"] * 5)

# A tunnel GET: its opening lines as the server wrote them, then stream bytes.
get = socket.create_connection(("127.0.0.1", http_port))
get.sendall(b"GET /tunnel HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n" % http_port)
get.settimeout(2)
response = b""
while response.count(b"\r\n") < 2 or b"\r\n\r\n" not in response or \
        response.split(b"\r\n\r\n", 1)[1].count(b"\r\n") < 2:
    chunk = get.recv(4096)
    if not chunk:
        break
    response += chunk
get.close()
headers, body = response.split(b"\r\n\r\n", 1)
if body.count(b"\r\n") < 2:
    sys.exit("capture: the tunnel sent no opening")
end = body.index(b"\r\n", body.index(b"\r\n") + 2) + 2
opening = body[:end]
first_line_end = opening.index(b"\r\n") + 2
write("fuzz_tunnel_opening", "opening-one-read", [opening + stream[:200]])
write("fuzz_tunnel_opening", "opening-line-by-line", [opening[:first_line_end], opening[first_line_end:], stream[:200]])
write("fuzz_tunnel_opening", "opening-cut-in-line-ends",
      [opening[:first_line_end - 1], opening[first_line_end - 1:end - 1], opening[end - 1:] + stream[:50]])
write("fuzz_tunnel_opening", "opening-byte-by-byte", [opening[i:i + 1] for i in range(len(opening))] + [stream[:20]])
print("captured %d reads, %d frames, %d alerts in %d categories, tunnel opening of %d bytes"
      % (len(reads), len(frames), len(alerts), len(by_category), len(opening)))
PY
# The INI reader starts from the project's example configuration.
mkdir -p fuzz/seeds/fuzz_ini
cp examples/Braxo.ini fuzz/seeds/fuzz_ini/example-braxo.ini
for t in fuzz/seeds/*/; do
    printf '%s: %s files, %s bytes\n' "$(basename "$t")" "$(ls "$t" | wc -l)" "$(cat "$t"* | wc -c)"
done
