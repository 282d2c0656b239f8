# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
#   <prefix>/bin/varnel-tuner, varnel-cli
#   <prefix>/share/varnel-tuner/english.lang, chinese.lang
#   <prefix>/lib/udev/rules.d/60-varnel-radio.rules
#   <prefix>/share/applications/varnel-tuner.desktop
#   <prefix>/share/icons/hicolor/{32x32,64x64}/apps/varnel-tuner.png
#   <prefix>/share/mime/packages/varnel-tuner.xml
#   <prefix>/share/doc/varnel-tuner/copyright, changelog.gz
#   <prefix>/share/man/man1/varnel-tuner.1.gz, varnel-cli.1.gz

install(TARGETS varnel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET varnel-tuner)
  install(TARGETS varnel-tuner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${VARNEL_LANG_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/varnel-tuner)
# Example alignment procedures and instrument models.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/procedures DESTINATION ${CMAKE_INSTALL_DATADIR}/varnel-tuner)
install(FILES ${CMAKE_SOURCE_DIR}/dist/60-varnel-radio.rules DESTINATION lib/udev/rules.d)
install(FILES ${CMAKE_SOURCE_DIR}/dist/varnel-tuner.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/dist/varnel-tuner-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
  RENAME varnel-tuner.xml)
install(FILES ${CMAKE_SOURCE_DIR}/src/app/icons/varnel.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME varnel-tuner.png)
install(FILES ${CMAKE_SOURCE_DIR}/src/app/icons/varnel@2x.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps RENAME varnel-tuner.png)
install(FILES ${CMAKE_SOURCE_DIR}/dist/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnel-tuner)

# Compressed changelog and manual pages, as Debian expects them.
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE)
  set(_varnel_gz_dir ${CMAKE_BINARY_DIR}/dist-gz)
  set(_varnel_gz_outputs)
  foreach(pair "changelog:dist/changelog" "varnel-tuner.1:dist/varnel-tuner.1" "varnel-cli.1:dist/varnel-cli.1")
    string(REPLACE ":" ";" pair_list "${pair}")
    list(GET pair_list 0 out_name)
    list(GET pair_list 1 in_file)
    add_custom_command(OUTPUT ${_varnel_gz_dir}/${out_name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_varnel_gz_dir}
      COMMAND ${GZIP_EXECUTABLE} -9nc ${CMAKE_SOURCE_DIR}/${in_file} > ${_varnel_gz_dir}/${out_name}.gz
      DEPENDS ${CMAKE_SOURCE_DIR}/${in_file} VERBATIM)
    list(APPEND _varnel_gz_outputs ${_varnel_gz_dir}/${out_name}.gz)
  endforeach()
  add_custom_target(varnel_dist_gz ALL DEPENDS ${_varnel_gz_outputs})
  install(FILES ${_varnel_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnel-tuner)
  install(FILES ${_varnel_gz_dir}/varnel-tuner.1.gz ${_varnel_gz_dir}/varnel-cli.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---- Debian package ----
set(CPACK_PACKAGE_NAME varnel-tuner)
set(CPACK_PACKAGE_VENDOR "Varnel Tuner developers")
set(CPACK_PACKAGE_CONTACT "Varnel Tuner developers <tuner@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "alignment tool for a DMR two-way radio")
set(CPACK_PACKAGE_DESCRIPTION "Sets the calibration (tuner data) of a DMR two-way radio attached over USB:
transmit power, squelch and VOX thresholds, CTCSS deviation, frequency
stability, FSK values. Includes the desktop program, the command-line tool
varnel-cli, the udev rule for the radio and calibration records in SQLite
or PostgreSQL.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY varnel-tuner)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# Library dependencies from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
