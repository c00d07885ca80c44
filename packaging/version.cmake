# The rule for a version: three numbers x.y.z without leading zeros, each at most 65535,
# one 16-bit word of the version resource's binary version. Script-safe (cmake -P).

# Sets OUT to the three numbers as a list, or stops the configure with the reason.
function(tessaly_version_words version out)
    if(NOT version MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$")
        message(FATAL_ERROR "Version '${version}' is not three numbers x.y.z")
    endif()
    set(words ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
    foreach(word IN LISTS words)
        if(word GREATER 65535)
            message(FATAL_ERROR "Version '${version}': ${word} is above 65535")
        endif()
    endforeach()
    set(${out} ${words} PARENT_SCOPE)
endfunction()
