# Lets root and the members of the group orvanel, and no one else, capture
# through the orvanel-socket helper. Run by `cmake --install` and by
# scripts/grant-capture-rights:
#   cmake -Dhelper=PATH [-Dstage=DESTDIR] [-Don_failure=FATAL_ERROR] -P grant_capture_rights.cmake
# helper is where the helper runs from; stage, when set, is the staging
# directory of a package build, where none of this can take effect yet.

set(group orvanel)
# Closed to others first, so that no failure can leave a capability from an
# earlier grant open to all; the capability comes last, as chown drops it.
set(steps
  "chmod 0750 '${helper}'"
  "groupadd --system --force ${group}"
  "chown root:${group} '${helper}'"
  "setcap cap_net_raw=ep '${helper}'")
list(JOIN steps "\n  " commands)

if(NOT "${stage}" STREQUAL "")
  message(NOTICE "${stage}${helper} is staged without its group and the right to capture. "
                 "The package's post-install step must run, as root:\n  ${commands}\n"
                 "(lib/sysusers.d/orvanel.conf also makes the group, through systemd-sysusers.)")
  return()
endif()

set(ENV{PATH} "$ENV{PATH}:/usr/sbin:/sbin")  # su without a login shell leaves them out
foreach(step IN LISTS steps)
  separate_arguments(command UNIX_COMMAND "${step}")
  execute_process(COMMAND ${command} RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
  if(NOT result STREQUAL "0")
    string(STRIP "${error}" error)
    set(failure "`${step}` failed (${result}) ${error}")
    break()
  endif()
endforeach()

if(failure)
  # An earlier install may have left the capability on a file found up to date.
  execute_process(COMMAND setcap -r "${helper}" OUTPUT_QUIET ERROR_QUIET)
  if(NOT on_failure)
    set(on_failure WARNING)
  endif()
  message(${on_failure} "${helper} has NOT been given the right to capture: ${failure}\n"
                        "Only root can capture. To let the group ${group} capture, run as root:\n  ${commands}")
else()
  set(user "$ENV{SUDO_USER}")
  if(NOT user)
    set(user USER)
  endif()
  message(STATUS "Only root and the group ${group} may capture through ${helper}. To add a user, run as root "
                 "(the user then logs in again):\n  usermod -a -G ${group} ${user}")
endif()
