# "cmake --install": the station and the tools in bin/, the libraries in lib/qbx-station/
# (libusbwire.so loads its D2XX driver from its own folder), the udev rule that lets a user
# without root open the FT2232H. The simulator's libusb-1.0.so.0 is for tests only: not installed.
include(GNUInstallDirs)

set(QBX_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH
  "Where cmake --install puts the udev rule for the FT2232H (udev reads /etc/udev/rules.d)")
set(QBX_INSTALL_LIBRARY_DIR "${CMAKE_INSTALL_LIBDIR}/qbx-station")

set(qbx_programs Test_QBX_FPGA qbx-inspect qbx-verify-report qbx-vectors)
set_target_properties(${qbx_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${QBX_INSTALL_LIBRARY_DIR}")
install(TARGETS ${qbx_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS usbwire d2xx-ftdi qbxsim LIBRARY DESTINATION ${QBX_INSTALL_LIBRARY_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/d2xx/60-qbx-ft2232h.rules DESTINATION ${QBX_UDEV_RULES_DIR})
