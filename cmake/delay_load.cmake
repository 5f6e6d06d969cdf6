# Import libraries for the DLLs that are not KnownDLLs on every supported
# Windows: with these the import table no longer names them, and each loads on
# first use through the delay-load helper, after the entry has confined the DLL
# search to System32 (app/dll_search.cpp). shell32 and oleaut32 are KnownDLLs,
# delay-loaded because only registration, the failure notice and screen
# readers use them: loaded at the start, they and what they import would
# hold up the splash. One .def per DLL, in
# cmake/delayload, lists the functions the program and its tests call; a call
# to any other fails at link time.
find_program(TOLVIN_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool x86_64-w64-mingw32-dlltool REQUIRED)

foreach(dll winhttp gdiplus wintrust crypt32 oleacc shell32 oleaut32)
  set(def ${CMAKE_CURRENT_LIST_DIR}/delayload/${dll}.def)
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
  # dlltool names the archive members and their symbols after the output path
  # as given, so it gets a bare file name: no build folder in the library.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${TOLVIN_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib lib${dll}_delay.a
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayload
    DEPENDS ${def} VERBATIM)
  add_custom_target(delay_${dll}_import DEPENDS ${lib})
  add_library(delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(delay_${dll} PROPERTIES IMPORTED_LOCATION ${lib})
  add_dependencies(delay_${dll} delay_${dll}_import)
endforeach()
