# The libraries the module builds into itself from Debian's source packages
# (fetched by scripts/fetch-sources.sh): Lua 5.1, oscpack, RtMidi, libepoxy
# and FTGL.
#
# A host that carries its own copy of one of them, in another version, and
# exports it (a DAW with its own Lua 5.3, a statically linked RtMidi) would
# otherwise get our calls: the dynamic loader looks in the host first. Built
# here as static, position-independent archives with hidden visibility and
# linked into corvane_x64.so, they are invisible outside it. They are compiled
# with the project's compile options, so the sanitizer builds instrument them
# as well.
#
# Each target carries its own include folders; the rest of the code includes
# <lua.hpp>, <osc/...>, <rtmidi/RtMidi.h>, <epoxy/gl.h> and <FTGL/ftgl.h> as before.

if(DEFINED ENV{CORVANE_SOURCE_CACHE})
  set(corvane_default_source_cache "$ENV{CORVANE_SOURCE_CACHE}")
elseif(EXISTS /var/cache/corvane/sources)
  set(corvane_default_source_cache /var/cache/corvane)
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(corvane_default_source_cache "$ENV{XDG_CACHE_HOME}/corvane")
else()
  set(corvane_default_source_cache "$ENV{HOME}/.cache/corvane")
endif()
set(CORVANE_SOURCE_CACHE "${corvane_default_source_cache}" CACHE PATH
    "Folder with the unpacked Debian source packages (scripts/fetch-sources.sh fills it)")

# corvane_private_source(VAR package probe-file): the package's source folder.
function(corvane_private_source var package probe)
  set(dir "${CORVANE_SOURCE_CACHE}/sources/${package}")
  if(NOT EXISTS "${dir}/${probe}")
    message(FATAL_ERROR "The ${package} source package is not in ${CORVANE_SOURCE_CACHE}/sources: "
                        "run scripts/setup.sh (or set CORVANE_SOURCE_CACHE)")
  endif()
  get_filename_component(real "${dir}" REALPATH)
  get_filename_component(versioned "${real}" NAME)
  message(STATUS "Private ${package}: ${versioned}")
  set(${var} "${real}" PARENT_SCOPE)
endfunction()

# Third-party code: their own warnings are not ours to fix, hidden symbols.
function(corvane_private_library target)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON
                        C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE -w)
endfunction()

# Lua 5.1: the core and the standard libraries, not the stand-alone
# interpreter and compiler. POSIX features, but no loading of C modules: a
# system C module is linked against a shared Lua, and its calls would go to
# whatever Lua the host exports. require of a Lua file still works; loading a
# C module answers "dynamic libraries not enabled".
corvane_private_source(CORVANE_LUA_SOURCE_DIR lua5.1 src/lapi.c)
set(corvane_lua_files lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser lstate lstring
    ltable ltm lundump lvm lzio lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit)
list(TRANSFORM corvane_lua_files PREPEND "${CORVANE_LUA_SOURCE_DIR}/src/")
list(TRANSFORM corvane_lua_files APPEND ".c")
add_library(corvane_lua STATIC ${corvane_lua_files})
corvane_private_library(corvane_lua)
target_compile_definitions(corvane_lua PRIVATE LUA_USE_POSIX)
# Lua turns numbers into integers with a plain cast (string.rep(s, 1e300) and
# the like); on x86-64 that gives the "integer indefinite" value, not a
# fault. The fuzz build must not stop on it in Lua's own code.
if(CORVANE_FUZZ)
  target_compile_options(corvane_lua PRIVATE -fno-sanitize=float-cast-overflow)
endif()
# Debian's luaconf.h includes a header its packaging writes at configure time
# (the multiarch triplet for the search paths); write the same one here.
set(corvane_lua_include "${CMAKE_BINARY_DIR}/private-include/lua5.1")
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(corvane_multiarch "${CMAKE_LIBRARY_ARCHITECTURE}")
else()
  set(corvane_multiarch "x86_64-linux-gnu")
endif()
file(WRITE "${corvane_lua_include}/lua5.1-deb-multiarch.h.tmp"
     "#ifndef _LUA_DEB_MULTIARCH_\n#define _LUA_DEB_MULTIARCH_\n"
     "#define DEB_HOST_MULTIARCH \"${corvane_multiarch}\"\n#endif\n")
configure_file("${corvane_lua_include}/lua5.1-deb-multiarch.h.tmp" "${corvane_lua_include}/lua5.1-deb-multiarch.h" COPYONLY)
# lua.hpp, the C++ wrapper of the three headers, lives in etc/.
target_include_directories(corvane_lua SYSTEM PUBLIC "${CORVANE_LUA_SOURCE_DIR}/src" "${CORVANE_LUA_SOURCE_DIR}/etc"
                           "${corvane_lua_include}")
target_link_libraries(corvane_lua PUBLIC m)
add_library(corvane::lua ALIAS corvane_lua)

# oscpack: the OSC packet classes and the POSIX UDP part.
corvane_private_source(CORVANE_OSCPACK_SOURCE_DIR oscpack osc/OscTypes.cpp)
add_library(corvane_oscpack STATIC
  "${CORVANE_OSCPACK_SOURCE_DIR}/osc/OscTypes.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/osc/OscReceivedElements.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/osc/OscOutboundPacketStream.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/osc/OscPrintReceivedElements.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/ip/IpEndpointName.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/ip/posix/NetworkingUtils.cpp"
  "${CORVANE_OSCPACK_SOURCE_DIR}/ip/posix/UdpSocket.cpp")
corvane_private_library(corvane_oscpack)
target_compile_definitions(corvane_oscpack PUBLIC OSC_HOST_LITTLE_ENDIAN)
target_include_directories(corvane_oscpack SYSTEM PUBLIC "${CORVANE_OSCPACK_SOURCE_DIR}")
add_library(corvane::oscpack ALIAS corvane_oscpack)

# RtMidi with its ALSA sequencer back end only (MIDI output goes to ALSA
# ports). Its header sits in an include folder of its own as rtmidi/RtMidi.h,
# where Debian installs it.
corvane_private_source(CORVANE_RTMIDI_SOURCE_DIR rtmidi RtMidi.cpp)
set(corvane_rtmidi_include "${CMAKE_BINARY_DIR}/private-include")
configure_file("${CORVANE_RTMIDI_SOURCE_DIR}/RtMidi.h" "${corvane_rtmidi_include}/rtmidi/RtMidi.h" COPYONLY)
add_library(corvane_rtmidi STATIC "${CORVANE_RTMIDI_SOURCE_DIR}/RtMidi.cpp")
corvane_private_library(corvane_rtmidi)
target_compile_definitions(corvane_rtmidi PRIVATE __LINUX_ALSA__)
target_include_directories(corvane_rtmidi PRIVATE "${CORVANE_RTMIDI_SOURCE_DIR}")
target_include_directories(corvane_rtmidi SYSTEM PUBLIC "${corvane_rtmidi_include}")
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
target_link_libraries(corvane_rtmidi PUBLIC PkgConfig::ALSA Threads::Threads)
add_library(corvane::rtmidi ALIAS corvane_rtmidi)

# libepoxy: the GL and GLX entry points, looked up in libGL.so.1 the first
# time each is called, never at load. The module itself then needs no libGL:
# a machine without one (a DAW installed without its recommended packages, a
# render server) still loads every plug-in, and only the editors are missing
# (gui/toolkit/GLSupport.h says whether GL can be had). Its dispatch code and
# headers are generated from the Khronos registries the package carries, as
# its own build does; EGL is left out (the editors draw through GLX only).
corvane_private_source(CORVANE_EPOXY_SOURCE_DIR libepoxy src/dispatch_common.c)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(corvane_epoxy_generated "${CMAKE_BINARY_DIR}/private-include/epoxy-generated")
set(corvane_epoxy_outputs)
foreach(api gl glx)
  set(registry "${CORVANE_EPOXY_SOURCE_DIR}/registry/${api}.xml")
  add_custom_command(
    OUTPUT "${corvane_epoxy_generated}/epoxy/${api}_generated.h" "${corvane_epoxy_generated}/${api}_generated_dispatch.c"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${corvane_epoxy_generated}/epoxy"
    COMMAND Python3::Interpreter "${CORVANE_EPOXY_SOURCE_DIR}/src/gen_dispatch.py" --header --source
            "--includedir=${corvane_epoxy_generated}/epoxy" "--srcdir=${corvane_epoxy_generated}" "${registry}"
    DEPENDS "${registry}" "${CORVANE_EPOXY_SOURCE_DIR}/src/gen_dispatch.py"
    COMMENT "Generating libepoxy's ${api} dispatch")
  list(APPEND corvane_epoxy_outputs "${corvane_epoxy_generated}/epoxy/${api}_generated.h"
       "${corvane_epoxy_generated}/${api}_generated_dispatch.c")
endforeach()
file(WRITE "${corvane_epoxy_generated}/config.h.tmp"
     "#define ENABLE_GLX 1\n#define ENABLE_EGL 0\n#define ENABLE_X11 1\n#define HAVE_KHRPLATFORM_H 0\n")
configure_file("${corvane_epoxy_generated}/config.h.tmp" "${corvane_epoxy_generated}/config.h" COPYONLY)
add_library(corvane_epoxy STATIC "${CORVANE_EPOXY_SOURCE_DIR}/src/dispatch_common.c"
            "${CORVANE_EPOXY_SOURCE_DIR}/src/dispatch_glx.c" ${corvane_epoxy_outputs})
corvane_private_library(corvane_epoxy)
target_include_directories(corvane_epoxy PRIVATE "${CORVANE_EPOXY_SOURCE_DIR}/src" "${corvane_epoxy_generated}")
target_include_directories(corvane_epoxy SYSTEM PUBLIC "${CORVANE_EPOXY_SOURCE_DIR}/include" "${corvane_epoxy_generated}")
target_link_libraries(corvane_epoxy PUBLIC PkgConfig::X11 ${CMAKE_DL_LIBS} Threads::Threads)
add_library(corvane::epoxy ALIAS corvane_epoxy)
# FTGL's sources include <GL/gl.h> and <GL/glu.h>; for them both stand for
# libepoxy's GL (the texture font uses no GLU).
set(corvane_epoxy_gl_shim "${CMAKE_BINARY_DIR}/private-include/epoxy-gl-shim")
foreach(header gl glu)
  file(WRITE "${corvane_epoxy_gl_shim}/GL/${header}.h.tmp" "#include <epoxy/gl.h>\n")
  configure_file("${corvane_epoxy_gl_shim}/GL/${header}.h.tmp" "${corvane_epoxy_gl_shim}/GL/${header}.h" COPYONLY)
endforeach()

# FTGL: a music machine's DAW does not bring libftgl.so.2 along, so the
# module carries it. Only the texture font and what it stands on: the other
# font kinds (and FTGL's C interface, which names them all) would pull in
# GLU's tessellator, which the module neither needs nor may assume.
corvane_private_source(CORVANE_FTGL_SOURCE_DIR ftgl src/FTGL/ftgl.h)
set(corvane_ftgl_files FTBuffer FTCharmap FTCleanup FTFace FTGlyphContainer FTLibrary FTPoint FTSize
    FTFont/FTFont FTFont/FTTextureFont FTGlyph/FTGlyph FTGlyph/FTTextureGlyph)
list(TRANSFORM corvane_ftgl_files PREPEND "${CORVANE_FTGL_SOURCE_DIR}/src/")
list(TRANSFORM corvane_ftgl_files APPEND ".cpp")
add_library(corvane_ftgl STATIC ${corvane_ftgl_files})
corvane_private_library(corvane_ftgl)
# Its sources include a config.h that its configure step writes; nothing the
# files above compile reads from it.
set(corvane_ftgl_config "${CMAKE_BINARY_DIR}/private-include/ftgl-config")
file(WRITE "${corvane_ftgl_config}/config.h.tmp" "/* FTGL built into the module: no settings. */\n")
configure_file("${corvane_ftgl_config}/config.h.tmp" "${corvane_ftgl_config}/config.h" COPYONLY)
target_include_directories(corvane_ftgl BEFORE PRIVATE "${corvane_epoxy_gl_shim}")
target_include_directories(corvane_ftgl PRIVATE "${CORVANE_FTGL_SOURCE_DIR}/src" "${corvane_ftgl_config}")
target_include_directories(corvane_ftgl SYSTEM PUBLIC "${CORVANE_FTGL_SOURCE_DIR}/src")
target_link_libraries(corvane_ftgl PUBLIC PkgConfig::FREETYPE corvane::epoxy)
add_library(corvane::ftgl ALIAS corvane_ftgl)
