# Where find_package(kivlog-firmware) looks first: the kit itself is installed with the tool in
# share/kivlog/firmware.
include("${CMAKE_CURRENT_LIST_DIR}/../../kivlog/firmware/cmake/kivlog-firmware-config.cmake")
