# lwIP 2.1.3 from Debian's source package, unpacked by scripts/setup.sh into
# the cache outside the tree, built as a static library with the dial-up
# server's own options (platform/dialup/lwip). Its files are compiled with
# their own flags: our warnings, and -Werror, are for our code.
set(RS232C_LWIP_VERSION 2.1.3+dfsg1)
set(RS232C_LWIP_DIR "" CACHE PATH "lwIP's unpacked source (found in the setup cache when empty)")
if(NOT RS232C_LWIP_DIR)
  set(candidates)
  if(DEFINED ENV{RS232C_CACHE})
    list(APPEND candidates $ENV{RS232C_CACHE})
  endif()
  list(APPEND candidates /var/cache/rs232c)
  if(DEFINED ENV{XDG_CACHE_HOME})
    list(APPEND candidates $ENV{XDG_CACHE_HOME}/rs232c)
  endif()
  if(DEFINED ENV{HOME})
    list(APPEND candidates $ENV{HOME}/.cache/rs232c)
  endif()
  foreach(cache ${candidates})
    if(EXISTS ${cache}/lwip-${RS232C_LWIP_VERSION}/.unpacked)
      set(RS232C_LWIP_DIR ${cache}/lwip-${RS232C_LWIP_VERSION} CACHE PATH "lwIP's unpacked source" FORCE)
      break()
    endif()
  endforeach()
endif()
if(NOT EXISTS ${RS232C_LWIP_DIR}/src/include/lwip/init.h)
  message(FATAL_ERROR "lwIP ${RS232C_LWIP_VERSION}'s source is not in the cache: run scripts/setup.sh")
endif()

file(GLOB rs232c_lwip_sources
  ${RS232C_LWIP_DIR}/src/core/*.c
  ${RS232C_LWIP_DIR}/src/core/ipv4/*.c
  ${RS232C_LWIP_DIR}/src/netif/ppp/*.c
  ${RS232C_LWIP_DIR}/src/netif/ppp/polarssl/*.c
)
add_library(rs232c_lwip STATIC ${rs232c_lwip_sources})
set_property(TARGET rs232c_lwip PROPERTY COMPILE_OPTIONS "")
# lwIP reads headers through structs of other types (its Van Jacobson code
# sums an IP header as 16-bit words); with strict aliasing, GCC's optimiser
# moved the header's stores past that sum in the Windows builds, and every
# compressed TCP segment from the guest arrived with a bad IP checksum.
target_compile_options(rs232c_lwip PRIVATE -Wno-error -fno-strict-aliasing)
if(NOT WIN32 AND RS232C_SANITIZE)
  target_compile_options(rs232c_lwip PRIVATE -fsanitize=${RS232C_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
endif()
# lwipopts.h and arch/cc.h are ours; the hook header is named from the platform root.
target_include_directories(rs232c_lwip SYSTEM PUBLIC
  ${CMAKE_SOURCE_DIR}/platform/dialup/lwip
  ${RS232C_LWIP_DIR}/src/include
)
target_include_directories(rs232c_lwip PRIVATE ${CMAKE_BINARY_DIR}/layers/platform)
