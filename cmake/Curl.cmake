# libcurl, the stand-in control's HTTP cameras' transport: built once per
# recipe from Debian bookworm's source package (tools/thirdparty/curl.sh), as
# a DLL. The imported target dvvcurl gives its headers and import library;
# DVV_CURL_DLLS names the DLL, which goes beside whatever loads it
# (dvv_runtime_dlls).
dvv_thirdparty(curl dvv_curl_dir)
add_library(dvvcurl INTERFACE IMPORTED GLOBAL)
set_target_properties(dvvcurl PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${dvv_curl_dir}/include
  INTERFACE_LINK_LIBRARIES ${dvv_curl_dir}/lib/libcurl.dll.a)
file(GLOB DVV_CURL_DLLS ${dvv_curl_dir}/bin/*.dll)
if(NOT DVV_CURL_DLLS)
  message(FATAL_ERROR "No libcurl DLL in ${dvv_curl_dir}/bin")
endif()
