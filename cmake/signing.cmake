# Authenticode signatures for the Windows release, only when a certificate
# is given; unsigned is the default. packaging/sign does the signing, with
# the password from the build's environment (or, less wisely, the cache).
# horamat_sign_program(<target>) signs a program right after it is linked;
# the setup passes HORAMAT_SIGN and HORAMAT_SIGN_ENV on to makensis.
if(WIN32)
  set(HORAMAT_SIGN_PKCS12 "$ENV{HORAMAT_SIGN_PKCS12}" CACHE FILEPATH
      "PKCS#12 file to sign the programs, the setup and the uninstaller with; empty: unsigned")
  set(HORAMAT_SIGN_PASSWORD "" CACHE STRING
      "its password; better left empty and given as HORAMAT_SIGN_PASSWORD in the build's environment")
  set(HORAMAT_SIGN_TIMESTAMP "$ENV{HORAMAT_SIGN_TIMESTAMP}" CACHE STRING
      "RFC 3161 time-stamp server; empty: no time stamp")
endif()
set(HORAMAT_SIGN_ENV)
if(WIN32 AND HORAMAT_SIGN_PKCS12)
  find_program(HORAMAT_OSSLSIGNCODE osslsigncode)
  if(NOT HORAMAT_OSSLSIGNCODE)
    message(FATAL_ERROR "HORAMAT_SIGN_PKCS12 is set, but osslsigncode is missing (Debian package osslsigncode)")
  endif()
  set(HORAMAT_SIGN ${CMAKE_SOURCE_DIR}/packaging/sign)
  set(HORAMAT_SIGN_ENV ${CMAKE_COMMAND} -E env
      HORAMAT_SIGN_PKCS12=${HORAMAT_SIGN_PKCS12} HORAMAT_SIGN_TIMESTAMP=${HORAMAT_SIGN_TIMESTAMP})
  if(HORAMAT_SIGN_PASSWORD)
    list(APPEND HORAMAT_SIGN_ENV HORAMAT_SIGN_PASSWORD=${HORAMAT_SIGN_PASSWORD})
  endif()
endif()

function(horamat_sign_program target)
  if(HORAMAT_SIGN_ENV)
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${HORAMAT_SIGN_ENV} ${HORAMAT_SIGN} $<TARGET_FILE:${target}>
                       COMMENT "signing ${target}" VERBATIM)
  endif()
endfunction()
