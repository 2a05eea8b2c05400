# The launcher's version: three numbers, each from 0 to 65535 (a part of the
# executable's version block holds 16 bits), written without leading zeros,
# so that every reader (the self-update's comparison, the version block, the
# package name, ostrel-manifest) sees the same three numbers.
#
# ostrel_launcher_version(VERSION) stops the configure step on a malformed
# VERSION, and otherwise sets OSTREL_LAUNCHER_VERSION_MAJOR, _MINOR and _PATCH
# in the caller's scope (src/build_config.h.in writes them into the build).
function(ostrel_launcher_version version)
  set(part "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT version MATCHES "^${part}\\.${part}\\.${part}$")
    message(FATAL_ERROR "OSTREL_LAUNCHER_VERSION \"${version}\" is not a launcher version: write three numbers "
                        "separated by dots, each from 0 to 65535 without leading zeros, for example 1.0.1")
  endif()
  set(parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
  foreach(number ${parts})
    if(number GREATER 65535)
      message(FATAL_ERROR "OSTREL_LAUNCHER_VERSION \"${version}\": ${number} is above 65535, the largest "
                          "number a part of the executable's version block holds")
    endif()
  endforeach()
  list(GET parts 0 major)
  list(GET parts 1 minor)
  list(GET parts 2 patch)
  set(OSTREL_LAUNCHER_VERSION_MAJOR ${major} PARENT_SCOPE)
  set(OSTREL_LAUNCHER_VERSION_MINOR ${minor} PARENT_SCOPE)
  set(OSTREL_LAUNCHER_VERSION_PATCH ${patch} PARENT_SCOPE)
endfunction()
