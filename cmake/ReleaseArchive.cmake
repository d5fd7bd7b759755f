# The release archive beside the program: ZelvoBackup-<major.minor.patch>-win32.zip
# (win64 from the x86_64 test build) with the program and the user guide, and
# its SHA-256 file. scripts/package.sh builds it; tests/package checks it.
find_program(ZELVO_PYTHON3 python3 REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZELVO_ARCHIVE_ARCH win64)
else()
    set(ZELVO_ARCHIVE_ARCH win32)
endif()
set(ZELVO_ARCHIVE
    ${CMAKE_BINARY_DIR}/ZelvoBackup-${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}-${ZELVO_ARCHIVE_ARCH}.zip)
add_custom_command(OUTPUT ${ZELVO_ARCHIVE} ${ZELVO_ARCHIVE}.sha256
    COMMAND ${ZELVO_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/make-release-zip
            ${ZELVO_ARCHIVE} $<TARGET_FILE:ZelvoBackup> ${ZELVO_GUIDE}
    DEPENDS ZelvoBackup ${ZELVO_GUIDE} ${PROJECT_SOURCE_DIR}/tools/make-release-zip
    COMMENT "Release archive ${ZELVO_ARCHIVE}"
    VERBATIM)
add_custom_target(release_archive ALL DEPENDS ${ZELVO_ARCHIVE})
