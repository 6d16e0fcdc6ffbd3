# Authenticode signing with the builder's own certificate, by osslsigncode: off unless
# RESKEEPER_SIGN_PKCS12 names a PKCS#12 file (certificate and key); its password is read from
# RESKEEPER_SIGN_PASSWORD_FILE, and RESKEEPER_SIGN_TIMESTAMP_URL, when set, names an RFC 3161
# time-stamping service so that the signature outlives the certificate.
#
#   reskeeper_sign_target(target)             signs the target's executable after each link
#   reskeeper_sign_file_command(var file)     sets var to the COMMAND arguments that sign `file`
#                                             in place, for custom commands (the package); empty
#                                             when signing is off
#   RESKEEPER_SIGN_SCRIPT                     the script behind both (cmake -DRESKEEPER_SIGN_INPUT=
#                                             FILE -P script)
set(RESKEEPER_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign the Windows programs with")
set(RESKEEPER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 file's password")
set(RESKEEPER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping URL (optional)")

set(RESKEEPER_SIGN_SCRIPT "")
if(RESKEEPER_SIGN_PKCS12)
  find_program(RESKEEPER_OSSLSIGNCODE osslsigncode REQUIRED)
  if(NOT EXISTS "${RESKEEPER_SIGN_PKCS12}")
    message(FATAL_ERROR "RESKEEPER_SIGN_PKCS12: no file ${RESKEEPER_SIGN_PKCS12}")
  endif()
  set(RESKEEPER_SIGN_SCRIPT ${CMAKE_BINARY_DIR}/sign-file.cmake)
  set(password "")
  if(RESKEEPER_SIGN_PASSWORD_FILE)
    set(password "-readpass \"${RESKEEPER_SIGN_PASSWORD_FILE}\"")
  endif()
  set(timestamp "")
  if(RESKEEPER_SIGN_TIMESTAMP_URL)
    set(timestamp "-ts \"${RESKEEPER_SIGN_TIMESTAMP_URL}\"")
  endif()
  # The signed copy replaces the file only once osslsigncode has succeeded.
  file(CONFIGURE OUTPUT ${RESKEEPER_SIGN_SCRIPT} @ONLY CONTENT [[
if(NOT RESKEEPER_SIGN_INPUT)
  message(FATAL_ERROR "usage: cmake -DRESKEEPER_SIGN_INPUT=FILE -P @RESKEEPER_SIGN_SCRIPT@")
endif()
file(REMOVE "${RESKEEPER_SIGN_INPUT}.signed")
execute_process(COMMAND "@RESKEEPER_OSSLSIGNCODE@" sign -pkcs12 "@RESKEEPER_SIGN_PKCS12@"
                        @password@ -h sha256 -n "reskeeper" @timestamp@
                        -in "${RESKEEPER_SIGN_INPUT}" -out "${RESKEEPER_SIGN_INPUT}.signed"
                RESULT_VARIABLE failed)
if(failed)
  file(REMOVE "${RESKEEPER_SIGN_INPUT}.signed")
  message(FATAL_ERROR "could not sign ${RESKEEPER_SIGN_INPUT}")
endif()
file(RENAME "${RESKEEPER_SIGN_INPUT}.signed" "${RESKEEPER_SIGN_INPUT}")
]])
endif()

function(reskeeper_sign_file_command var file)
  if(RESKEEPER_SIGN_SCRIPT)
    set(${var} COMMAND ${CMAKE_COMMAND} -DRESKEEPER_SIGN_INPUT=${file} -P ${RESKEEPER_SIGN_SCRIPT}
        PARENT_SCOPE)
  else()
    set(${var} "" PARENT_SCOPE)
  endif()
endfunction()

function(reskeeper_sign_target target)
  reskeeper_sign_file_command(sign $<TARGET_FILE:${target}>)
  if(sign)
    add_custom_command(TARGET ${target} POST_BUILD ${sign}
      COMMENT "Signing ${target}" VERBATIM)
  endif()
endfunction()
