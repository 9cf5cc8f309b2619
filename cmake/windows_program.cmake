# update.exe for Windows 95 to 2000: the logic and the framework over the
# real Win32 API, the resources linked in by windres, no DLL but the
# system's. Configured with cmake/mingw-x86_64.cmake or cmake/mingw-i686.cmake.
enable_language(RC)

add_library(zav_afx STATIC ${ZAV_AFX_SOURCES})
target_include_directories(zav_afx PUBLIC ${CMAKE_SOURCE_DIR})

add_library(zav_logic STATIC ${ZAV_LOGIC_SOURCES})
target_link_libraries(zav_logic PUBLIC zav_afx)
add_dependencies(zav_logic zav_seam_check)

file(GLOB ZAV_WIN32_SOURCES CONFIGURE_DEPENDS platform/win32/*.cpp)
add_executable(update WIN32 ${ZAV_WIN32_SOURCES} res/update.rc)
set_source_files_properties(res/update.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_SOURCE_DIR}/res/update.ico")
target_include_directories(update PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/res)
# Whole archive: the application object is reached only through its constructor.
target_link_libraries(update PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,zav_logic>" advapi32 user32 kernel32)
# Statically linked (no libstdc++, libgcc or winpthread DLLs), a GUI program
# that asks for Windows 4.0, the version of Windows 95 and NT 4.
target_link_options(update PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
set_target_properties(update PROPERTIES OUTPUT_NAME update SUFFIX ".exe")

# SETUP.EXE for the Wine scenarios: the new version's installer over the
# same Win32 calls, a GUI program so that no console opens.
add_executable(setup WIN32 tools/zav-setup/setup_win32.cpp tools/zav-setup/install.cpp)
target_include_directories(setup PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(setup PRIVATE advapi32 kernel32)
target_link_options(setup PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(setup PROPERTIES OUTPUT_NAME SETUP SUFFIX ".EXE")

# kdo_32up.dll for the Wine scenarios of Windows 98: the INT 13h access
# library over an image file beside it, exporting its two entry points.
add_library(kdo32up SHARED tools/kdo32up/kdo_32up_win32.cpp tools/kdo32up/int13_service.cpp)
target_include_directories(kdo32up PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(kdo32up PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(kdo32up PROPERTIES PREFIX "" OUTPUT_NAME kdo_32up SUFFIX ".dll")
