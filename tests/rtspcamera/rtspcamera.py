#!/usr/bin/python3
"""The test RTSP camera: GStreamer's RTSP server on 127.0.0.1.

It serves one picture source as H.264 (/h264), H.265 (/h265), Motion
JPEG (/mjpeg) and VP8 (/vp8, which the viewer does not play) over RTP, each
client from its own first picture. With
--markers every picture carries the tests' markers, as the simulated Motion
JPEG camera draws them: a green square in the top left quarter and, along the
bottom sixteenth, the picture's number in 16 bits (white is 1, most
significant first). Without it, a moving test pattern with the time on it.

--redirect adds a camera that answers every request (once signed in, when
credentials are asked) with a redirect to another port of 127.0.0.1, where
a listener writes each request line and Authorization header that reaches it
to the --record file and refuses it.

When it serves, it prints one line:
  ready rtsp://127.0.0.1:PORT/ [redirect rtsp://127.0.0.1:PORT2/]
and, with --port-file, writes the same line there. It ends on SIGTERM or
SIGINT, with --seconds after that long (so a camera whose test died does not
serve for ever), and with --stdin when its standard input ends.
"""
import argparse
import base64
import hashlib
import os
import signal
import socket
import sys
import threading

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
gi.require_version("GstVideo", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer, GstVideo  # noqa: E402

CODE_BITS = 16
# The markers' colours in limited-range BT.601 YUV: RGB(0, 200, 0) for the
# square, white and black for the code's ones and noughts.
GREEN = (117, 70, 54)
WHITE = (235, 128, 128)
BLACK = (16, 128, 128)
REALM = "rtspcamera"


class MarkedPictures:
    """I420 pictures: a fixed grey gradient with the markers on it."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        cw, ch = width // 2, height // 2
        # Plane sizes in the chroma's half resolution keep edges on whole pixels.
        self.square_c = (cw // 4, ch // 4)
        self.strip_rows_c = max(1, ch // 16)
        luma_row = bytes(40 + x * 160 // width for x in range(width))
        y_plane = bytearray(luma_row * height)
        u_plane = bytearray(b"\x80" * (cw * ch))
        v_plane = bytearray(b"\x80" * (cw * ch))
        sq_w, sq_h = self.square_c
        for yc in range(sq_h):
            for row in (2 * yc, 2 * yc + 1):
                y_plane[row * width:row * width + 2 * sq_w] = bytes([GREEN[0]]) * (2 * sq_w)
            u_plane[yc * cw:yc * cw + sq_w] = bytes([GREEN[1]]) * sq_w
            v_plane[yc * cw:yc * cw + sq_w] = bytes([GREEN[2]]) * sq_w
        self.strip_top_c = ch - self.strip_rows_c
        self.y_top = bytes(y_plane[:2 * self.strip_top_c * width])
        self.u_top = bytes(u_plane[:self.strip_top_c * cw])
        self.v_top = bytes(v_plane[:self.strip_top_c * cw])

    def picture(self, number):
        width, cw = self.width, self.width // 2
        rows_y = self.height - 2 * self.strip_top_c
        y_row, u_row, v_row = bytearray(width), bytearray(cw), bytearray(cw)
        for bit in range(CODE_BITS):
            colour = WHITE if (number >> (CODE_BITS - 1 - bit)) & 1 else BLACK
            x0, x1 = bit * cw // CODE_BITS, (bit + 1) * cw // CODE_BITS
            y_row[2 * x0:2 * x1] = bytes([colour[0]]) * (2 * (x1 - x0))
            u_row[x0:x1] = bytes([colour[1]]) * (x1 - x0)
            v_row[x0:x1] = bytes([colour[2]]) * (x1 - x0)
        return b"".join((self.y_top, bytes(y_row) * rows_y, self.u_top, bytes(u_row) * self.strip_rows_c,
                         self.v_top, bytes(v_row) * self.strip_rows_c))


ENCODERS = {
    "h264": "x264enc name=encoder tune=zerolatency sliced-threads=false speed-preset=ultrafast key-int-max={gop} "
            "! rtph264pay name=pay0 pt=96 config-interval=-1",
    "h265": "x265enc name=encoder tune=zerolatency speed-preset=ultrafast key-int-max={gop} "
            "! rtph265pay name=pay0 pt=96 config-interval=-1",
    "mjpeg": "jpegenc name=encoder quality=85 ! rtpjpegpay name=pay0 pt=26",
    # A codec the viewer does not play, for the words that say so.
    "vp8": "vp8enc name=encoder deadline=1 keyframe-max-dist={gop} ! rtpvp8pay name=pay0 pt=96",
}


def launch_line(args, codec):
    caps = "video/x-raw,format=I420,width={},height={},framerate={}/1".format(args.width, args.height, args.fps)
    if args.markers:
        source = "appsrc name=pictures format=time caps={} ! videoconvert".format(caps)
    else:
        source = ("videotestsrc is-live=true pattern=smpte horizontal-speed=2 ! {} "
                  "! clockoverlay time-format=\"%H:%M:%S\" font-desc=\"Sans {}\" ! videoconvert"
                  .format(caps, max(12, args.height // 20)))
    return "( {} ! {} )".format(source, ENCODERS[codec].format(gop=2 * args.fps))


def configure_media(factory, media, args):
    """Each client's pipeline starts with a key frame, and with --markers gets
    numbered pictures from 0 at the set rate."""
    encoder = media.get_element().get_by_name_recurse_up("encoder")

    def new_state(_media, state):
        # What the encoder made while the pipeline was being prepared never
        # reached the client: without a key frame now it would decode nothing
        # whole until the next one.
        if state == Gst.State.PLAYING:
            encoder.get_static_pad("src").send_event(
                GstVideo.video_event_new_upstream_force_key_unit(Gst.CLOCK_TIME_NONE, True, 0))

    media.connect("new-state", new_state)
    if not args.markers:
        return
    pictures = MarkedPictures(args.width, args.height)
    appsrc = media.get_element().get_by_name_recurse_up("pictures")
    frame_ns = Gst.SECOND // args.fps
    state = {"number": 0}

    def need_data(src, _length):
        buf = Gst.Buffer.new_wrapped(pictures.picture(state["number"] & 0xFFFF))
        buf.pts = state["number"] * frame_ns
        buf.duration = frame_ns
        state["number"] += 1
        src.emit("push-buffer", buf)

    appsrc.connect("need-data", need_data)


def make_auth(args):
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", "user")
    methods = 0
    if args.auth in ("basic", "both"):
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        methods |= GstRtsp.RTSPAuthMethod.BASIC
    if args.auth in ("digest", "both"):
        auth.add_digest(args.user, args.password, token)
        methods |= GstRtsp.RTSPAuthMethod.DIGEST
    auth.set_supported_methods(methods)
    return auth


def make_factory(args, codec):
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch_line(args, codec))
    factory.set_shared(False)
    if args.transport == "tcp":
        factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP)
    elif args.transport == "udp":
        factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP)
    factory.connect("media-configure", configure_media, args)
    if args.user is not None:
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_permission_for_role("user", "media.factory.access", True)
        permissions.add_permission_for_role("user", "media.factory.construct", True)
        factory.set_permissions(permissions)
    return factory


class RtspRequest:
    def __init__(self, lines):
        self.line = lines[0]
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()


def read_requests(conn):
    """Yields the requests on one RTSP connection (none of ours have a body)."""
    data = b""
    while True:
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
            if len(data) > 65536:
                return
        head, _, data = data.partition(b"\r\n\r\n")
        request = RtspRequest(head.decode("latin-1").split("\r\n"))
        length = int(request.headers.get("content-length", "0") or 0)
        while len(data) < length:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
        data = data[length:]
        yield request


def listen(handler):
    """A listener on a free port of 127.0.0.1, one thread per connection."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)

    def accept():
        while True:
            conn, _ = sock.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    def serve(conn):
        with conn:
            try:
                for request in read_requests(conn):
                    conn.sendall(handler(request).encode("latin-1"))
            except OSError:
                pass

    threading.Thread(target=accept, daemon=True).start()
    return sock.getsockname()[1]


def answer(request, status, *headers):
    lines = ["RTSP/1.0 " + status, "CSeq: " + request.headers.get("cseq", "0")]
    lines += headers
    return "\r\n".join(lines) + "\r\n\r\n"


class SignIn:
    """The redirecting camera's own check of Basic and Digest credentials."""

    def __init__(self, args):
        self.args = args
        self.nonce = os.urandom(16).hex()

    def challenges(self):
        found = []
        if self.args.auth in ("digest", "both"):
            found.append('WWW-Authenticate: Digest realm="{}", nonce="{}"'.format(REALM, self.nonce))
        if self.args.auth in ("basic", "both"):
            found.append('WWW-Authenticate: Basic realm="{}"'.format(REALM))
        return found

    def accepts(self, request):
        if self.args.user is None:
            return True
        scheme, _, value = request.headers.get("authorization", "").partition(" ")
        if scheme.lower() == "basic" and self.args.auth in ("basic", "both"):
            expected = base64.b64encode("{}:{}".format(self.args.user, self.args.password).encode()).decode()
            return value.strip() == expected
        if scheme.lower() == "digest" and self.args.auth in ("digest", "both"):
            fields = dict(part.strip().split("=", 1) for part in value.split(",") if "=" in part)
            fields = {k.strip().lower(): v.strip().strip('"') for k, v in fields.items()}
            method = request.line.split(" ", 1)[0]
            md5 = lambda text: hashlib.md5(text.encode()).hexdigest()  # noqa: E731
            ha1 = md5("{}:{}:{}".format(self.args.user, REALM, self.args.password))
            ha2 = md5("{}:{}".format(method, fields.get("uri", "")))
            return (fields.get("username") == self.args.user and fields.get("nonce") == self.nonce
                    and fields.get("response") == md5("{}:{}:{}".format(ha1, self.nonce, ha2)))
        return False


def start_redirect(args):
    """The redirecting camera and the listener it sends clients to; returns the former's port."""
    record = open(args.record, "a", buffering=1) if args.record else sys.stdout
    lock = threading.Lock()

    def target(request):
        with lock:
            record.write("request {}\n".format(request.line))
            record.write("authorization {}\n".format(request.headers.get("authorization", "(none)")))
        return answer(request, "401 Unauthorized", 'WWW-Authenticate: Basic realm="redirect target"')

    target_port = listen(target)
    sign_in = SignIn(args)

    def redirect(request):
        if not sign_in.accepts(request):
            return answer(request, "401 Unauthorized", *sign_in.challenges())
        path = request.line.split(" ")[1].split("/", 3)[-1] if request.line.count("/") >= 3 else ""
        return answer(request, "302 Moved Temporarily",
                      "Location: rtsp://127.0.0.1:{}/{}".format(target_port, path))

    return listen(redirect)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0, help="RTSP port (default: a free one)")
    parser.add_argument("--size", default="640x480", help="picture size, WxH")
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--markers", action="store_true", help="the tests' markers on every picture")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--auth", choices=("digest", "basic", "both"), default="digest")
    parser.add_argument("--transport", choices=("any", "tcp", "udp"), default="any")
    parser.add_argument("--redirect", action="store_true", help="also a camera that redirects to a recording listener")
    parser.add_argument("--record", help="file the redirect target writes what reaches it to (default: standard output)")
    parser.add_argument("--port-file", help="file to write the ready line to")
    parser.add_argument("--stdin", action="store_true", help="end when standard input ends")
    parser.add_argument("--seconds", type=int, default=0, help="end after this many seconds (default: never)")
    args = parser.parse_args()
    try:
        args.width, args.height = (int(n) for n in args.size.lower().split("x"))
    except ValueError:
        parser.error("--size takes WxH, such as 1280x720")
    if args.width < 32 or args.height < 32 or args.width % 2 or args.height % 2 or not 1 <= args.fps <= 120:
        parser.error("the picture needs an even size of at least 32x32, and 1 to 120 pictures a second")

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    if args.user is not None:
        server.set_auth(make_auth(args))
    mounts = server.get_mount_points()
    for codec in ENCODERS:
        mounts.add_factory("/" + codec, make_factory(args, codec))
    loop = GLib.MainLoop()
    if server.attach(None) == 0:
        print("error: cannot serve on 127.0.0.1 port {}".format(args.port), file=sys.stderr)
        return 1
    ready = "ready rtsp://127.0.0.1:{}/".format(server.get_bound_port())
    if args.redirect:
        ready += " redirect rtsp://127.0.0.1:{}/".format(start_redirect(args))
    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
    if args.seconds > 0:
        GLib.timeout_add_seconds(args.seconds, loop.quit)
    if args.stdin:
        def watch_stdin():
            while os.read(0, 4096):
                pass
            GLib.idle_add(loop.quit)
        threading.Thread(target=watch_stdin, daemon=True).start()
    if args.port_file:
        with open(args.port_file + ".partial", "w") as f:
            f.write(ready + "\n")
        os.replace(args.port_file + ".partial", args.port_file)
    print(ready, flush=True)
    try:
        loop.run()
    finally:
        if args.port_file:
            os.remove(args.port_file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
