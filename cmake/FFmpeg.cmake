# FFmpeg's libraries (libavformat, libavcodec, libswscale, libavutil), the
# stand-in control's RTSP cameras: built once per recipe from Debian
# bookworm's source package (tools/thirdparty/ffmpeg.sh), as DLLs. The
# imported target dvvffmpeg gives their headers and import libraries;
# DVV_FFMPEG_DLLS names the DLLs, which go beside whatever loads them
# (dvv_runtime_dlls).
dvv_thirdparty(ffmpeg dvv_ffmpeg_dir)
set(dvv_ffmpeg_libs)
foreach(lib avformat avcodec swscale avutil)
  list(APPEND dvv_ffmpeg_libs ${dvv_ffmpeg_dir}/lib/lib${lib}.dll.a)
endforeach()
add_library(dvvffmpeg INTERFACE IMPORTED GLOBAL)
set_target_properties(dvvffmpeg PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${dvv_ffmpeg_dir}/include
  INTERFACE_LINK_LIBRARIES "${dvv_ffmpeg_libs}")
file(GLOB DVV_FFMPEG_DLLS ${dvv_ffmpeg_dir}/bin/*.dll)
if(NOT DVV_FFMPEG_DLLS)
  message(FATAL_ERROR "No FFmpeg DLLs in ${dvv_ffmpeg_dir}/bin")
endif()
