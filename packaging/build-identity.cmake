# What a build says about itself: the one version (the project's, or TESSALY_VERSION for
# a release), the commit it was built from, the link time stamp, and the version
# resource of each shipped binary. Included by the top-level CMakeLists.txt.

# A release may carry another version than the project's; empty means the project's.
set(TESSALY_VERSION "" CACHE STRING "Version x.y.z of this build (empty: the project's)")
if("${TESSALY_VERSION}" STREQUAL "")
    set(TESSALY_BUILD_VERSION ${PROJECT_VERSION})
else()
    set(TESSALY_BUILD_VERSION ${TESSALY_VERSION})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
tessaly_version_words("${TESSALY_BUILD_VERSION}" TESSALY_VERSION_WORDS)
string(REPLACE ";" "," TESSALY_VERSION_COMMAS "${TESSALY_VERSION_WORDS}")

# The commit, whether tracked files differ from it, and its time. Read at configure
# time; every make target configures first, and a new commit or checkout moves HEAD's
# log, which configures again.
set(TESSALY_COMMIT "")
set(TESSALY_MODIFIED NO)
set(TESSALY_COMMIT_TIME "")
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --verify HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE head_result ERROR_QUIET)
    # Only the project's own checkout: a tree unpacked inside another repository is not.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE toplevel OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(head_result EQUAL 0 AND toplevel)
        file(REAL_PATH "${toplevel}" toplevel)
        file(REAL_PATH "${CMAKE_SOURCE_DIR}" source)
    endif()
    if(head_result EQUAL 0 AND toplevel STREQUAL source)
        set(TESSALY_COMMIT ${commit})
        execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct HEAD
                        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                        OUTPUT_VARIABLE TESSALY_COMMIT_TIME OUTPUT_STRIP_TRAILING_WHITESPACE)
        # Untracked files are left out: a scratch file does not make a build private.
        execute_process(COMMAND ${GIT_EXECUTABLE} --no-optional-locks status --porcelain
                                --untracked-files=no
                        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                        OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(changes)
            set(TESSALY_MODIFIED YES)
        endif()
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path logs/HEAD
                        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                        OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(head_log "${head_log}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
        if(EXISTS "${head_log}")
            set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
        endif()
    endif()
endif()

# The link time stamp: SOURCE_DATE_EPOCH when the builder gives one, else the commit's
# time, so that two builds of one commit are byte for byte the same and tools that match
# symbols to binaries still tell versions apart. Outside a checkout and without a
# SOURCE_DATE_EPOCH the stamp is left out (zero).
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(TESSALY_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    set(TESSALY_EPOCH "${TESSALY_COMMIT_TIME}")
endif()
if(NOT "${TESSALY_EPOCH}" STREQUAL "" AND NOT "${TESSALY_EPOCH}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH '${TESSALY_EPOCH}' is not a number of seconds")
endif()

# The texts of the version resource.
set(TESSALY_PRODUCT_VERSION_TEXT ${TESSALY_BUILD_VERSION})
set(TESSALY_BUILD_NOTE "")
set(TESSALY_FILE_FLAGS 0)
if(TESSALY_COMMIT)
    string(SUBSTRING ${TESSALY_COMMIT} 0 12 short_commit)
    if(TESSALY_MODIFIED)
        set(TESSALY_PRODUCT_VERSION_TEXT "${TESSALY_BUILD_VERSION} (commit ${short_commit}, modified)")
        set(TESSALY_BUILD_NOTE "VALUE \"Commit\", \"${TESSALY_COMMIT} modified\"\n            VALUE \"PrivateBuild\", \"modified checkout of commit ${TESSALY_COMMIT}\"")
        set(TESSALY_FILE_FLAGS VS_FF_PRIVATEBUILD)
    else()
        set(TESSALY_PRODUCT_VERSION_TEXT "${TESSALY_BUILD_VERSION} (commit ${short_commit})")
        set(TESSALY_BUILD_NOTE "VALUE \"Commit\", \"${TESSALY_COMMIT}\"")
    endif()
endif()

# What the release scripts read back: the identity this build tree was configured with.
file(WRITE ${CMAKE_BINARY_DIR}/build-identity.txt
     "version=${TESSALY_BUILD_VERSION}\ncommit=${TESSALY_COMMIT}\n"
     "modified=${TESSALY_MODIFIED}\nepoch=${TESSALY_EPOCH}\n")
message(STATUS "tessaly ${TESSALY_PRODUCT_VERSION_TEXT}, link time stamp ${TESSALY_EPOCH}")

if(WIN32)
    enable_language(RC)
    # ld takes the PE time stamp from SOURCE_DATE_EPOCH in its environment.
    if("${TESSALY_EPOCH}" STREQUAL "")
        add_link_options(-Wl,--no-insert-timestamp)
    else()
        foreach(lang C CXX)
            set(CMAKE_${lang}_LINKER_LAUNCHER
                ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TESSALY_EPOCH})
        endforeach()
    endif()
    # No path of the source or build tree in any binary. The build tree lies inside the
    # source tree here; GCC tries the mapping given last first.
    add_compile_options(
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")
    # Release binaries are stripped by the linker, which keeps the time stamp above;
    # strip run afterwards would stamp the time it ran.
    add_link_options($<$<CONFIG:Release>:-s>)
endif()

# Gives TARGET a version resource: DESCRIPTION, its file NAME, and the file TYPE
# (VFT_APP or VFT_DLL). The resource is compiled apart, as an object library, so that
# none of the target's C++ options reach the resource compiler.
function(tessaly_version_resource target description name type)
    set(TESSALY_FILE_DESCRIPTION "${description}")
    set(TESSALY_ORIGINAL_FILENAME "${name}")
    set(TESSALY_FILE_TYPE ${type})
    get_filename_component(TESSALY_INTERNAL_NAME ${name} NAME_WE)
    set(rc ${CMAKE_BINARY_DIR}/generated/version/${target}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/version.rc.in ${rc} @ONLY)
    add_library(${target}_version OBJECT ${rc})
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_version>)
endfunction()
