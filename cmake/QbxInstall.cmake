# "cmake --install": the station and the tools in bin/, the libraries in lib/qbx-station/
# (libusbwire.so loads its D2XX driver from its own folder), the udev rule that lets a user
# without root open the FT2232H. The simulator's libusb-1.0.so.0 is for tests only: not installed.
include(GNUInstallDirs)

set(qbx_programs Test_QBX_FPGA qbx-inspect qbx-verify-report qbx-vectors)
if(WIN32)
  # On Windows one folder to copy to the bench PC: the programs, usbwire.dll, the simulator's DLL
  # and the example files (FTD2XX.dll comes with the adapter maker's driver).
  install(TARGETS ${qbx_programs} usbwire qbxsim RUNTIME DESTINATION .)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples
    FILES_MATCHING PATTERN "*.bsd" PATTERN "*.vec" PATTERN "*.json" PATTERN "operator-input.txt"
    PATTERN "demo" EXCLUDE)
  return()
endif()

set(QBX_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH
  "Where cmake --install puts the udev rule for the FT2232H (udev reads /etc/udev/rules.d)")
set(QBX_INSTALL_LIBRARY_DIR "${CMAKE_INSTALL_LIBDIR}/qbx-station")

set_target_properties(${qbx_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${QBX_INSTALL_LIBRARY_DIR}")
install(TARGETS ${qbx_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS usbwire d2xx-ftdi qbxsim LIBRARY DESTINATION ${QBX_INSTALL_LIBRARY_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/d2xx/60-qbx-ft2232h.rules DESTINATION ${QBX_UDEV_RULES_DIR})
