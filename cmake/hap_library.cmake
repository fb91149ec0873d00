# Vector kernels live in their own files and are the only code built with
# instruction-set flags, so the rest of the project runs on any x86-64.
# The level is read from the file name's suffix:
#   *_sse41.cpp (SSE4.1 and the SSSE3 below it)  *_avx.cpp  *_avx_fma.cpp
#   *_avx2.cpp  *_avx2_fma.cpp
function(hap_simd_flags source)
  get_filename_component(stem "${source}" NAME_WE)
  if(stem MATCHES "_avx2_fma$")
    set(flags -mavx2 -mfma)
  elseif(stem MATCHES "_avx2$")
    set(flags -mavx2)
  elseif(stem MATCHES "_avx_fma$")
    set(flags -mavx -mfma)
  elseif(stem MATCHES "_avx$")
    set(flags -mavx)
  elseif(stem MATCHES "_sse41$")
    set(flags -msse4.1)
  else()
    return()
  endif()
  set_property(SOURCE "${source}" APPEND PROPERTY COMPILE_OPTIONS ${flags})
endfunction()

# One static library per folder, made of every .cpp in the listed folders.
function(hap_library name)
  set(sources)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  foreach(s IN LISTS sources)
    hap_simd_flags("${s}")
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
