# The demo on both systems: runs the Linux station (LINUX_BIN) and the Windows one (WINDOWS_BIN,
# through the emulator WINE) on the example files and the simulated board sequence, with the
# operator's input of the examples, and checks that both leave the same files: the signed report
# of the passing board (same name, same bytes, so the same signature line), the truth table and
# the error file. The consoles must agree too, once each folder's name is replaced by OUT.
#
# cmake -DSOURCE=<tree> -DLINUX_BIN=<folder> -DWINDOWS_BIN=<folder> -DWINE=<emulator>
#       -DWORK=<scratch folder> -P CompareDemo.cmake
foreach(variable SOURCE LINUX_BIN WINDOWS_BIN WINE WORK)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CompareDemo.cmake needs -D${variable}=...")
  endif()
endforeach()
foreach(file "${LINUX_BIN}/Test_QBX_FPGA" "${LINUX_BIN}/libqbxsim.so")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} is missing: the comparison needs the Linux station and simulator "
                        "(scripts/test.sh or scripts/demo.sh builds them; scripts/test-windows.sh names the build)")
  endif()
endforeach()

set(examples "${SOURCE}/examples")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/L" "${WORK}/W")

# run(<system> <folder> <VARIABLE=value...> <program...>): the station with the demo's arguments, input and board
# sequence, its results in WORK/<folder> (folders of one length, so the boxes are alike).
function(run system folder)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=QBXSIM_STATS --unset=QBXSIM_TRACE
            QBXSIM_BOARD=${examples}/boards/sequence.json ${ARGN} ${examples}/a3pe3000.bsd ${examples}/interconnect.vec ${WORK}/${folder}
    INPUT_FILE "${examples}/operator-input.txt"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status
    TIMEOUT 300)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "the ${system} station ended with ${status}:\n${out}\n${err}")
  endif()
  set(console_${system} "${out}" PARENT_SCOPE)
endfunction()

run(linux L USBWIRE_DRIVER=libqbxsim.so "${LINUX_BIN}/Test_QBX_FPGA")
# The console box, as in every automated run on Windows.
run(windows W USBWIRE_DRIVER=qbxsim.dll QBX_CONSOLE_BOX=1 ${WINE} "${WINDOWS_BIN}/Test_QBX_FPGA.exe")

file(GLOB reports_linux RELATIVE "${WORK}/L" "${WORK}/L/QBX_*.txt")
file(GLOB reports_windows RELATIVE "${WORK}/W" "${WORK}/W/QBX_*.txt")
list(LENGTH reports_linux count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the Linux demo wrote ${count} reports (${reports_linux}), not one")
endif()
if(NOT reports_linux STREQUAL reports_windows)
  message(FATAL_ERROR "reports differ: Linux ${reports_linux}, Windows ${reports_windows}")
endif()

set(failures "")
foreach(name ${reports_linux} truetable.txt error.txt)
  file(READ "${WORK}/L/${name}" linux HEX)
  file(READ "${WORK}/W/${name}" windows HEX)
  if(linux STREQUAL "")
    string(APPEND failures "${name} is empty on Linux\n")
  elseif(NOT linux STREQUAL windows)
    string(APPEND failures "${name} differs between Linux and Windows\n")
  endif()
endforeach()

# The consoles: each output folder becomes OUT, and Windows' separator "/", so that only what the
# station says is compared.
string(REPLACE "${WORK}/W" "OUT" console_windows "${console_windows}")
string(REPLACE "${WORK}/L" "OUT" console_linux "${console_linux}")
string(REPLACE "\\" "/" console_windows "${console_windows}")
if(NOT console_linux STREQUAL console_windows)
  file(WRITE "${WORK}/console-linux.txt" "${console_linux}")
  file(WRITE "${WORK}/console-windows.txt" "${console_windows}")
  string(APPEND failures "the consoles differ: see ${WORK}/console-linux.txt and console-windows.txt\n")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "Linux and Windows give the same ${reports_linux}, truetable.txt, error.txt and console")
