# Signs the installed binaries when a code-signing certificate is given; run
# by the install step (Package.cmake), with PVT_SIGN_FILES (the files) and
# PVT_SIGN_WORK_DIR (a folder for the password file) set. Reads from the
# environment:
#
#   PVT_SIGNING_PFX            the certificate and its key, PKCS#12
#   PVT_SIGNING_PASSWORD       its password
#   PVT_SIGNING_TIMESTAMP_URL  optional: a time-stamping service (RFC 3161)
#
# Without PVT_SIGNING_PFX nothing is signed. The password goes to
# osslsigncode in a file readable by the owner alone, removed at once, so
# that it shows in no command line.

if("$ENV{PVT_SIGNING_PFX}" STREQUAL "")
  return()
endif()
if(NOT EXISTS "$ENV{PVT_SIGNING_PFX}")
  message(FATAL_ERROR "PVT_SIGNING_PFX: no file $ENV{PVT_SIGNING_PFX}")
endif()
find_program(PVT_OSSLSIGNCODE osslsigncode)
if(NOT PVT_OSSLSIGNCODE)
  message(FATAL_ERROR "PVT_SIGNING_PFX is set but osslsigncode is not installed "
                      "(Debian package osslsigncode; scripts/install-deps.sh)")
endif()

file(MAKE_DIRECTORY "${PVT_SIGN_WORK_DIR}")
set(password_file "${PVT_SIGN_WORK_DIR}/password")
file(REMOVE "${password_file}")
file(TOUCH "${password_file}")
file(CHMOD "${password_file}" PERMISSIONS OWNER_READ OWNER_WRITE)
file(WRITE "${password_file}" "$ENV{PVT_SIGNING_PASSWORD}")

set(timestamp "")
if(NOT "$ENV{PVT_SIGNING_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "$ENV{PVT_SIGNING_TIMESTAMP_URL}")
endif()

foreach(file IN LISTS PVT_SIGN_FILES)
  set(signed "${file}.signed")
  file(REMOVE "${signed}")
  execute_process(
    COMMAND "${PVT_OSSLSIGNCODE}" sign -pkcs12 "$ENV{PVT_SIGNING_PFX}" -readpass "${password_file}"
            -h sha256 -n PvtCorrelator ${timestamp} -in "${file}" -out "${signed}"
    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(failed)
    file(REMOVE "${password_file}" "${signed}")
    message(FATAL_ERROR "osslsigncode could not sign ${file}:\n${output}")
  endif()
  file(RENAME "${signed}" "${file}")
  message(STATUS "Signed: ${file}")
endforeach()
file(REMOVE "${password_file}")
