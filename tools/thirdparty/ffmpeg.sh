# FFmpeg's libraries for the stand-in control's RTSP cameras (recipe of
# tools/build-thirdparty.sh): Debian bookworm's FFmpeg 5.1, LGPL only (no GPL,
# no non-free parts), shared DLLs, and of its parts only what plays an RTSP
# camera: RTSP/RTP/SDP (with the HTTP and network protocols RTSP needs), the
# H.264, H.265 and Motion JPEG decoders and parsers, and libswscale. Windows
# threads; libgcc and winpthread (whose clock_gettime and nanosleep libavutil
# calls) linked in, so the DLLs import only Windows' own DLLs and each other.
package=ffmpeg
version_pattern='^7:5\.1\.'

build() {
  local src="$1" prefix="$2" triplet="$3" arch dll name
  case "$triplet" in
    x86_64-*) arch=x86_64 ;;
    i686-*) arch=x86 ;;
    *) echo "ffmpeg: unknown target $triplet" >&2; return 1 ;;
  esac
  cd "$src"
  ./configure --prefix="$prefix" \
    --enable-cross-compile --cross-prefix="$triplet-" --cc="$triplet-gcc-posix" --cxx="$triplet-g++-posix" \
    --arch="$arch" --target-os=mingw32 --x86asmexe=nasm \
    --enable-shared --disable-static --disable-debug \
    --disable-programs --disable-doc \
    --disable-autodetect --enable-w32threads --disable-pthreads \
    --disable-everything \
    --disable-avdevice --disable-avfilter --disable-swresample --disable-postproc \
    --enable-avcodec --enable-avformat --enable-swscale --enable-network \
    --enable-demuxer=rtsp,sdp,rtp \
    --enable-protocol=tcp,udp,rtp \
    --enable-decoder=h264,hevc,mjpeg \
    --enable-parser=h264,hevc,mjpeg \
    --extra-ldflags=-static-libgcc --extra-libs=-l:libwinpthread.a
  # Nothing GPL or non-free may have been configured in.
  if ! grep -q '^#define CONFIG_GPL 0' config.h || ! grep -q '^#define CONFIG_NONFREE 0' config.h; then
    echo "ffmpeg: the configuration is not LGPL only" >&2
    return 1
  fi
  make -j"${DVV_DEPS_JOBS:-2}"
  make install
  for dll in "$prefix"/bin/*.dll; do
    for name in $("$triplet-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
      case "${name,,}" in
        kernel32.dll | msvcrt.dll | ws2_32.dll | bcrypt.dll | advapi32.dll | user32.dll | ole32.dll) ;;
        avutil-*.dll | avcodec-*.dll | avformat-*.dll | swscale-*.dll) ;;
        *) echo "ffmpeg: $(basename "$dll") imports $name, which is neither Windows' nor FFmpeg's" >&2; return 1 ;;
      esac
    done
  done
}
